// The headless fleet mode as a field engineer runs it: the program against a site of simulated
// sensors on 127.0.0.2, 127.0.0.3, ..., each checked by what it received and by its record line.
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <memory>
#include <vector>
#ifndef Q_OS_WIN
#include <csignal>
#endif

#include "fleet/address_range.h"
#include "package_maker.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"

namespace
{

enum class fault { none, absent, silent, stall, late_ack, slow };

// One sensor of a site and the record line it should end with.
struct site_sensor {
    QByteArray version;
    fault kind;
    QString result;
    QString message;
};
using site = QVector<site_sensor>;

const QString not_prepared = "rror: Lidar not prepared!";

QString address_of(int index)
{
    return QString("127.0.0.%1").arg(index + 2);
}

QString sha256_hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

sensor_config config_of(const site_sensor &sensor)
{
    sensor_config config;
    config.log = "boot ok\nlidar firmware version " + sensor.version + "\nready\n";
    config.silent = sensor.kind == fault::silent;
    if (sensor.kind == fault::stall)
        config.stall_after_image_bytes = 10000;
    if (sensor.kind == fault::late_ack)
        config.image_ack = ack_mode::late;
    // About two seconds for the large image: time enough to interrupt mid-image.
    if (sensor.kind == fault::slow)
        config.image_read_rate = 20000;
    return config;
}

// A package with its settings file and a site's sensors (none for an absent one) in a fresh
// working directory, and the program run against them.
struct fleet_site {
    scoped_workdir workdir;
    package_contents package{{{"app.bin", 1, QByteArray("17 bytes a round.").repeated(2353)},
                              {"params.txt", 0, "p=1\n"}},
                             "c2.0.8",
                             "{c2.0.7,c2.0.8};{c2.0.8,c2.0.9};"};
    std::vector<std::unique_ptr<simulated_sensor>> sensors;
    QProcess program;

    QString path(const QString &name) const { return QDir(workdir.path()).filePath(name); }

    bool start(const site &wanted)
    {
        QFile list(path("sensors"));
        if (!make_package(path("pkg"), package, path("config"), true, nullptr) ||
            !list.open(QIODevice::WriteOnly) || !list.write("# one address a line\n"))
            return false;
        for (int i = 0; i < wanted.size(); ++i) {
            list.write(i ? address_of(i).toUtf8() + '\n' : QByteArray());
            sensors.emplace_back(wanted[i].kind == fault::absent
                                     ? nullptr
                                     : new simulated_sensor(config_of(wanted[i]), 50661, {},
                                                            QHostAddress(address_of(i))));
            if (sensors.back() && !sensors.back()->wait_listening())
                return false;
        }
        return true;
    }

    QStringList package_arguments() const
    {
        return {"--package", path("pkg"), "--config", path("config")};
    }

    // The first address on the command line, the others in the sensors file.
    QStringList site_arguments() const
    {
        return {"--record", path("record.jsonl"), "--sensors", path("sensors"), address_of(0)};
    }

    void launch(const QStringList &options)
    {
        launch_with(package_arguments() + site_arguments() + options);
    }

    void launch_with(const QStringList &arguments)
    {
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QCoreApplication::applicationDirPath() + "/" CORVALEN_PATH, arguments);
    }

    // The exit code, or -1 when the program hung or crashed.
    int finish()
    {
        if (!program.waitForFinished(60000))
            program.kill();
        program.waitForFinished(5000);
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    }

    // SIGINT, as Ctrl+C in a terminal sends it.
    void interrupt(int after_ms)
    {
        QTest::qWait(after_ms);
#ifndef Q_OS_WIN
        // Never pid 0: that would signal this test's own process group.
        if (program.processId() > 0)
            ::kill(pid_t(program.processId()), SIGINT);
#endif
    }

    QList<QJsonObject> record() const
    {
        QFile file(path("record.jsonl"));
        QList<QJsonObject> lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    lines << QJsonDocument::fromJson(line).object();
        return lines;
    }

    // The sensor's latest line in the record.
    QJsonObject line_of(int index) const
    {
        QJsonObject line;
        for (const QJsonObject &each : record())
            line = each["address"] == address_of(index) ? each : line;
        return line;
    }

    // The sensor's line in the record, and what the sensor received.
    void check(int index, const site_sensor &expected) const
    {
        const QJsonObject line = line_of(index);
        // An interrupted sensor's message is not fixed.
        const bool fixed_message = expected.result != "interrupted";
        QCOMPARE(
            QStringList({line["result"].toString(), fixed_message ? line["message"].toString() : "",
                         line["new_version"].toString()}),
            QStringList({expected.result, expected.message, "c2.0.8"}));
        QVERIFY(QDateTime::fromString(line["started"].toString(), Qt::ISODate).isValid());
        QVERIFY(line["seconds"].isDouble());
        const simulated_sensor *sensor = sensors[index].get();
        if (expected.result == "skipped")
            QCOMPARE(sensor->commands(), QList<QByteArray>{"readlog"});
        if (expected.result != "upgraded") {
            QVERIFY(!sensor || !sensor->commands().contains("shutdown"));
            return;
        }
        QCOMPARE(line["old_version"].toString(), QString(expected.version));
        QVERIFY(sensor->wait_for_shutdown());
        const QList<received_image> images = sensor->images();
        const QJsonArray files = line["files"].toArray();
        QCOMPARE(QList<int>({images.size(), files.size()}),
                 QList<int>({package.files.size(), package.files.size()}));
        for (int i = 0; i < package.files.size(); ++i) {
            const QByteArray &sent = package.files[i].content;
            const QJsonObject file = files[i].toObject();
            QCOMPARE(images.value(i).data, sent);
            QCOMPARE(QStringList({file["name"].toString(), file["sha256"].toString()}),
                     QStringList({package.files[i].name, sha256_hex(sent)}));
            QCOMPARE(file["bytes"].toDouble(), double(sent.size()));
        }
    }
};

} // namespace

Q_DECLARE_METATYPE(site)

class test_fleet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void run_site_data();
    void run_site();
    void refused_before_dialling_data();
    void refused_before_dialling();
    void check_site_data();
    void check_site();
    void check_range();
    void retry_what_is_left();
    void address_ranges_data();
    void address_ranges();
};

// A program without the fleet mode fails here once, instead of hanging in every case.
void test_fleet::initTestCase()
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // for the program, which needs no display
    fleet_site fleet;
    fleet.launch_with({"--help"});
    QCOMPARE(fleet.finish(), 0);
    QVERIFY(fleet.program.readAll().contains("--package"));
}

void test_fleet::run_site_data()
{
    QTest::addColumn<site>("sensors");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("interrupts"); // once two sensors take an image
    QTest::addColumn<int>("exit_code");
    const QString forbidden = "error: update from c2.0.1 to c2.0.8 is forbidden";
    const QString absent = "error: connect DAE failed with IP " + address_of(6) + "!";
    QTest::newRow("mixed") << site{{"c2.0.8", fault::none, "skipped", ""},
                                   {"c2.0.7", fault::none, "upgraded", ""},
                                   {"c2.0.1", fault::none, "failed", forbidden},
                                   {"c2.0.7", fault::silent, "failed",
                                    "error: get Lidar version fail"},
                                   {"c2.0.7", fault::stall, "failed", not_prepared},
                                   {"c2.0.7", fault::late_ack, "failed", not_prepared},
                                   {"", fault::absent, "failed", absent}}
                           << QStringList() << 0 << 1;
    QTest::newRow("healthy, reinstall and downgrade")
        << site{{"c2.0.7", fault::none, "upgraded", ""},
                {"c2.0.8", fault::none, "upgraded", ""},
                {"c2.0.9", fault::none, "upgraded", ""}}
        << QStringList{"--reinstall", "--allow-downgrade", "--jobs", "2"} << 0 << 0;
#ifndef Q_OS_WIN
    // The sensors never dialled are "interrupted" too.
    const site_sensor slow{"c2.0.7", fault::slow, "upgraded", ""};
    QTest::newRow("interrupted once: running sensors finish")
        << site(4, slow) << QStringList{"--jobs", "2"} << 1 << 1;
    const site_sensor aborted{"c2.0.7", fault::slow, "interrupted", ""};
    QTest::newRow("interrupted twice: running links abort")
        << site(4, aborted) << QStringList{"--jobs", "2"} << 2 << 1;
#endif
}

void test_fleet::run_site()
{
    QFETCH(site, sensors);
    QFETCH(QStringList, options);
    QFETCH(int, interrupts);
    fleet_site fleet;
    QVERIFY(fleet.start(sensors));
    fleet.launch(options);
    const auto downloading = [](const auto &sensor) { return sensor->commands().size() > 1; };
    if (interrupts)
        QTRY_COMPARE_WITH_TIMEOUT(
            std::count_if(fleet.sensors.begin(), fleet.sensors.end(), downloading), 2, 60000);
    for (int i = 0; i < interrupts; ++i)
        fleet.interrupt(i * 300); // the second apart from the first
    QTEST(fleet.finish(), "exit_code");
    const QString output = QString::fromUtf8(fleet.program.readAll());
    QCOMPARE(fleet.record().size(), sensors.size());
    int dialled = 0;
    for (int i = 0; i < sensors.size() && !QTest::currentTestFailed(); ++i) {
        const bool ran = !fleet.sensors[i] || fleet.sensors[i]->connections() > 0;
        dialled += ran;
        fleet.check(i, {sensors[i].version, sensors[i].kind,
                        ran ? sensors[i].result : "interrupted", sensors[i].message});
        // Every sensor dialled has lines of its own, prefixed with its address.
        const QString prefix = "^\\W*" + QRegularExpression::escape(address_of(i)) + "\\b";
        QVERIFY(!ran ||
                output.contains(QRegularExpression(prefix, QRegularExpression::MultilineOption)));
    }
    if (interrupts)
        QCOMPARE(dialled, 2);
}

void test_fleet::refused_before_dialling_data()
{
    QTest::addColumn<QString>("file");     // in the package directory
    QTest::addColumn<QByteArray>("bytes"); // null: the file is removed
    QTest::addColumn<QStringList>("options");
    QTest::newRow("missing image") << "app.bin" << QByteArray() << QStringList();
    QTest::newRow("image cut mid-block") << "app.bin" << QByteArray("1234567") << QStringList();
    QTest::newRow("missing padding count") << "app.bin_config" << QByteArray() << QStringList();
    QTest::newRow("missing update list") << "updatelist" << QByteArray() << QStringList();
    QTest::newRow("bad version") << "version" << encrypt_package_bytes("c2.08") << QStringList();
    QTest::newRow("missing settings") << "../config" << QByteArray() << QStringList();
    QTest::newRow("no jobs") << "" << QByteArray() << QStringList{"--jobs", "0"};
    QTest::newRow("unknown option") << "" << QByteArray() << QStringList{"--fast"};
}

void test_fleet::refused_before_dialling()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, options);
    fleet_site fleet;
    QVERIFY(fleet.start({{"c2.0.7", fault::none, "", ""}, {"c2.0.8", fault::none, "", ""}}));
    QFile damaged(fleet.path("pkg/" + file));
    if (!file.isEmpty())
        QVERIFY(bytes.isNull() ? damaged.remove()
                               : damaged.open(QIODevice::WriteOnly) && damaged.write(bytes) > 0);
    damaged.close();
    fleet.launch(options);
    QCOMPARE(fleet.finish(), 2);
    if (!file.isEmpty()) {
        fleet.launch_with({"--inspect", fleet.path("pkg"), "--config", fleet.path("config")});
        QCOMPARE(fleet.finish(), 2);
    }
    for (const auto &sensor : fleet.sensors)
        QVERIFY(!sensor->wait_until([&] { return sensor->connections() > 0; }, 300));
}

void test_fleet::check_site_data()
{
    QTest::addColumn<site>("sensors");
    QTest::addColumn<bool>("with_package");
    QTest::addColumn<int>("exit_code");
    const QString silent = "error: get Lidar version fail";
    const QString absent = "error: connect DAE failed with IP " + address_of(5) + "!";
    const site mixed{
        {"c2.0.8", fault::none, "current", ""},
        {"c2.0.7", fault::none, "outdated", ""},
        {"c2.0.1", fault::none, "refused", "error: update from c2.0.1 to c2.0.8 is forbidden"},
        {"c2.0.9", fault::none, "refused",
         "error: downgrade from c2.0.9 to c2.0.8 refused without --allow-downgrade"},
        {"c2.0.7", fault::silent, "unreachable", silent},
        {"", fault::absent, "unreachable", absent}};
    site found = mixed;
    for (site_sensor &sensor : found)
        if (sensor.result != "unreachable")
            sensor = {sensor.version, sensor.kind, "found", ""};
    QTest::newRow("mixed, package") << mixed << true << 1;
    QTest::newRow("mixed, no package") << found << false << 1;
    QTest::newRow("all current") << site(2, mixed[0]) << true << 0;
    QTest::newRow("all found") << site(2, found[2]) << false << 0;
}

// Each sensor's line says what the package would do, and only "readlog" reached it.
void test_fleet::check_site()
{
    QFETCH(site, sensors);
    QFETCH(bool, with_package);
    fleet_site fleet;
    QVERIFY(fleet.start(sensors));
    fleet.launch_with((with_package ? fleet.package_arguments() : QStringList()) +
                      QStringList("--check") + fleet.site_arguments());
    QTEST(fleet.finish(), "exit_code");
    const QString output = QString::fromUtf8(fleet.program.readAll());
    QCOMPARE(fleet.record().size(), sensors.size());
    for (int i = 0; i < sensors.size(); ++i) {
        const site_sensor &expected = sensors[i];
        const QJsonObject line = fleet.line_of(i);
        const bool reached = expected.result != "unreachable";
        QCOMPARE(QStringList({line["result"].toString(), line["message"].toString(),
                              line["old_version"].toString(), line["new_version"].toString()}),
                 QStringList({expected.result, expected.message, reached ? expected.version : "",
                              with_package ? "c2.0.8" : ""}));
        const QString shown = address_of(i) + ": " + expected.result +
                              (expected.message.isEmpty() ? "" : ": " + expected.message) + " (";
        QVERIFY2(output.contains(shown), qPrintable(shown));
        if (fleet.sensors[i])
            QCOMPARE(fleet.sensors[i]->commands(), QList<QByteArray>{"readlog"});
    }
}

// Where nothing listens an address of a range has its line and is counted, not listed.
void test_fleet::check_range()
{
    fleet_site fleet;
    QVERIFY(fleet.start({{"c2.0.8", fault::none, "", ""}, {"c2.0.7", fault::none, "", ""}}));
    fleet.launch_with(fleet.package_arguments() + QStringList{"--check", "--record",
                                                              fleet.path("record.jsonl"),
                                                              "127.0.0.2-40"});
    QCOMPARE(fleet.finish(), 1);
    const QString output = QString::fromUtf8(fleet.program.readAll());
    QCOMPARE(fleet.record().size(), 39);
    for (int i = 2; i < 39; ++i)
        QVERIFY(output.contains(address_of(i) + ": unreachable: error: connect DAE failed"));
    const QRegularExpression row("^127\\.0\\.0\\.\\d+ +c?[\\d.]* -> ",
                                 QRegularExpression::MultilineOption);
    QCOMPARE(output.count(row), 2);
    QVERIFY(output.contains("39 sensors: 1 current, 1 outdated, 37 unreachable (37 not listed"));
}

// Only the sensors whose latest line is not done are dialled, in the record's order, then the
// addresses given; the record is the new run's too.
void test_fleet::retry_what_is_left()
{
    fleet_site fleet;
    QVERIFY(fleet.start(site(5, {"c2.0.7", fault::none, "", ""})));
    const QVector<QPair<int, QString>> earlier{
        {3, "failed"}, {0, "failed"}, {1, "interrupted"}, {0, "upgraded"}, {2, "current"}};
    QFile record(fleet.path("record.jsonl"));
    QVERIFY(record.open(QIODevice::WriteOnly));
    for (const auto &line : earlier)
        record.write(
            QJsonDocument(QJsonObject{{"address", address_of(line.first)}, {"result", line.second}})
                .toJson(QJsonDocument::Compact) +
            "\n");
    record.close();
    fleet.launch_with(fleet.package_arguments() + QStringList{"--jobs", "1", "--retry",
                                                              record.fileName(), "--record",
                                                              record.fileName(), address_of(4)});
    QCOMPARE(fleet.finish(), 0);
    QStringList dialled;
    for (const QJsonObject &line : fleet.record().mid(earlier.size()))
        dialled << line["address"].toString() + " " + line["result"].toString();
    QCOMPARE(dialled, QStringList({address_of(3) + " upgraded", address_of(1) + " upgraded",
                                   address_of(4) + " upgraded"}));
    QCOMPARE(fleet.sensors[0]->connections() + fleet.sensors[2]->connections(), 0);
}

void test_fleet::address_ranges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("addresses"); // count, first, last; or the failure's start
    const QString malformed = "error: %1: a range is";
    QTest::newRow("last number") << "10.0.0.250-252"
                                 << "3 10.0.0.250 10.0.0.252";
    QTest::newRow("one number") << "10.0.0.5-5"
                                << "1 10.0.0.5 10.0.0.5";
    QTest::newRow("leading zeros") << "010.0.0.08-9"
                                   << "2 10.0.0.8 10.0.0.9";
    QTest::newRow("backwards") << "10.0.0.5-4" << malformed;
    QTest::newRow("past 255") << "10.0.0.5-256" << malformed;
    QTest::newRow("no end") << "10.0.0.5-" << malformed;
    QTest::newRow("two ends") << "10.0.0.1-2-3" << malformed;
    QTest::newRow("three numbers") << "10.0.0-3" << malformed;
    QTest::newRow("/30 without its ends") << "10.0.1.9/30"
                                          << "2 10.0.1.9 10.0.1.10";
    QTest::newRow("/31 keeps both") << "10.0.1.9/31"
                                    << "2 10.0.1.8 10.0.1.9";
    QTest::newRow("/32") << "10.0.1.9/32"
                         << "1 10.0.1.9 10.0.1.9";
    QTest::newRow("/22") << "10.0.5.7/22"
                         << "1022 10.0.4.1 10.0.7.254";
    QTest::newRow("/21 too large") << "10.0.0.0/21"
                                   << "error: %1: a range over 1024";
    QTest::newRow("/33") << "10.0.0.0/33" << malformed;
}

void test_fleet::address_ranges()
{
    QFETCH(QString, text);
    QFETCH(QString, addresses);
    const read_result<QStringList> range = addresses_of_range(text);
    if (!range)
        QVERIFY2(range.failure.startsWith(addresses.arg(text)), qPrintable(range.failure));
    else
        QCOMPARE(QString("%1 %2 %3")
                     .arg(range.value->size())
                     .arg(range.value->first(), range.value->last()),
                 addresses);
}

QTEST_GUILESS_MAIN(test_fleet)
#include "test_fleet.moc"
