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

#include "package_maker.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"

namespace
{

enum class fault { none, absent, silent, stall, late_ack, slow, back_new, back_old, gone };

// One sensor of a site and the record line it should end with.
struct site_sensor {
    QByteArray version;
    fault kind;
    QString result;
    QString message;
    QString verified = {}; // the version read after the restart
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
    const auto log = [](const QByteArray &version) {
        return "boot ok\nlidar firmware version " + version + "\nready\n";
    };
    config.log = log(sensor.version);
    // Restarts after "shutdown": back within a second, or long after the tool stopped waiting.
    if (sensor.kind == fault::back_new || sensor.kind == fault::back_old)
        config.restart_after_ms = 1000;
    if (sensor.kind == fault::gone)
        config.restart_after_ms = 60000;
    if (sensor.kind == fault::back_new)
        config.log_after_restart = log("c2.0.8");
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

    // The first address on the command line, the others in the sensors file.
    void launch(const QStringList &options)
    {
        launch_with(QStringList{"--package", path("pkg"), "--config", path("config"), "--record",
                                path("record.jsonl"), "--sensors", path("sensors"), address_of(0)} +
                    options);
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

    // The sensor's line in the record, and what the sensor received.
    void check(int index, const site_sensor &expected) const
    {
        QJsonObject line;
        for (const QJsonObject &each : record())
            line = each["address"] == address_of(index) ? each : line;
        // An interrupted sensor's message is not fixed.
        const bool fixed_message = expected.result != "interrupted";
        QCOMPARE(
            QStringList({line["result"].toString(), fixed_message ? line["message"].toString() : "",
                         line["new_version"].toString()}),
            QStringList({expected.result, expected.message, "c2.0.8"}));
        QVERIFY(QDateTime::fromString(line["started"].toString(), Qt::ISODate).isValid());
        QVERIFY(line["seconds"].isDouble());
        QCOMPARE(line["verified_version"],
                 expected.verified.isEmpty() ? QJsonValue() : QJsonValue(expected.verified));
        const simulated_sensor *sensor = sensors[index].get();
        if (expected.result == "skipped")
            QCOMPARE(sensor->commands(), QList<QByteArray>{"readlog"});
        // Not started: at most its version was read.
        if (expected.result == "not_started")
            QVERIFY(!sensor->commands().contains("download"));
        // A sensor that restarts got the whole package, whatever it said afterwards.
        if (expected.result != "upgraded" && config_of(expected).restart_after_ms < 0) {
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
    void log_read_beside_stream();
    void refused_before_dialling_data();
    void refused_before_dialling();
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
    QTest::newRow("verified after restart")
        << site{{"c2.0.7", fault::back_new, "upgraded", "", "c2.0.8"},
                {"c2.0.7", fault::back_old, "failed",
                 "error: sensor restarted with c2.0.7, not c2.0.8", "c2.0.7"},
                {"c2.0.7", fault::gone, "failed", "error: sensor did not come back within 4 s"}}
        << QStringList{"--verify", "4"} << 0 << 1;
    const site_sensor refusing{"c2.0.1", fault::none, "failed", forbidden};
    const site_sensor good{"c2.0.7", fault::none, "upgraded", ""};
    const auto stopped = [](const QString &rule) {
        return site_sensor{"c2.0.7", fault::none, "not_started", "not started: " + rule};
    };
    const site_sensor after_canary =
        stopped("the first 1 sensors (--canary) were not all upgraded");
    QTest::newRow("canary refused: the rest not started")
        << site{refusing, after_canary, after_canary} << QStringList{"--canary", "1", "--jobs", "1"}
        << 0 << 1;
    QTest::newRow("canaries upgraded: the rest follow")
        << site{good, good, refusing, good} << QStringList{"--canary", "2", "--jobs", "1"} << 0
        << 1;
    const site_sensor after_failures = stopped("2 sensors failed (--max-failures)");
    QTest::newRow("max failures reached")
        << site{refusing, good, refusing, after_failures, after_failures}
        << QStringList{"--max-failures", "2", "--jobs", "1"} << 0 << 1;
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
    int streamed = 0;
    for (int i = 0; i < sensors.size() && !QTest::currentTestFailed(); ++i) {
        const simulated_sensor *sensor = fleet.sensors[i].get();
        // An interrupt ends the links still waiting for a slot too.
        const bool sent = !sensor || sensor->commands().size() > 1;
        streamed += sent;
        site_sensor expected = sensors[i];
        expected.result = sent || !interrupts ? expected.result : "interrupted";
        fleet.check(i, expected);
        // Every sensor dialled has lines of its own, prefixed with its address.
        const QString prefix = "^\\W*" + QRegularExpression::escape(address_of(i)) + "\\b";
        QVERIFY((sensor && sensor->connections() == 0) ||
                output.contains(QRegularExpression(prefix, QRegularExpression::MultilineOption)));
    }
    if (interrupts)
        QCOMPARE(streamed, 2);
}

// With one slot, the next sensor's log is read while the first one's image streams.
void test_fleet::log_read_beside_stream()
{
    fleet_site fleet;
    QVERIFY(fleet.start(site(2, {"c2.0.7", fault::slow, "upgraded", ""})));
    fleet.launch({"--jobs", "1"});
    const simulated_sensor &first = *fleet.sensors[0];
    QVERIFY(first.wait_until([&] { return first.commands().size() > 1; }, 30000));
    QCOMPARE(
        QList<bool>({fleet.sensors[1]->commands().contains("readlog"), first.images().isEmpty()}),
        QList<bool>({true, true}));
    QCOMPARE(fleet.finish(), 0);
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

QTEST_GUILESS_MAIN(test_fleet)
#include "test_fleet.moc"
