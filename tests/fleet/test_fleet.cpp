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

    // The first address on the command line, the others in the sensors file.
    void launch(const QStringList &options)
    {
        launch_with(QStringList{"--package", path("pkg"), "--config", path("config"), "--record",
                                path("record.jsonl"), "--sensors", path("sensors"), address_of(0)} +
                    options);
    }

    void launch_with(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(CORVALEN_PATH, arguments);
    }

    // The exit code, or -1 when the program hung or crashed.
    int finish()
    {
        if (!program.waitForFinished(60000))
            program.kill();
        program.waitForFinished(5000);
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
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
        QCOMPARE(line["result"].toString(), expected.result);
        if (expected.result != "interrupted")
            QCOMPARE(line["message"].toString(), expected.message);
        QCOMPARE(line["new_version"].toString(), QString("c2.0.8"));
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
        QCOMPARE(images.size(), package.files.size());
        QCOMPARE(files.size(), package.files.size());
        for (int i = 0; i < package.files.size(); ++i) {
            const package_file &sent = package.files[i];
            QCOMPARE(images[i].data, sent.content);
            QCOMPARE(files[i].toObject()["name"].toString(), sent.name);
            QCOMPARE(files[i].toObject()["bytes"].toDouble(), double(sent.content.size()));
            QCOMPARE(files[i].toObject()["sha256"].toString(), sha256_hex(sent.content));
        }
    }
};

} // namespace

Q_DECLARE_METATYPE(site)

class test_fleet : public QObject
{
    Q_OBJECT

private slots:
    void usage_and_inspect();
    void run_site_data();
    void run_site();
    void refused_before_dialling_data();
    void refused_before_dialling();
    void interrupt_data();
    void interrupt();
};

void test_fleet::usage_and_inspect()
{
    fleet_site fleet;
    QVERIFY(fleet.start({}));
    fleet.launch_with({"--help"});
    QCOMPARE(fleet.finish(), 0);
    QVERIFY(fleet.program.readAll().contains("--package"));
    fleet.launch_with({"--inspect", fleet.path("pkg"), "--config", fleet.path("config")});
    QCOMPARE(fleet.finish(), 0);
    const QByteArray output = fleet.program.readAll();
    QVERIFY(output.contains("c2.0.8"));
    for (const package_file &file : fleet.package.files)
        QVERIFY2(output.contains(sha256_hex(file.content).toLatin1()), qPrintable(file.name));
}

void test_fleet::run_site_data()
{
    QTest::addColumn<site>("sensors");
    QTest::addColumn<QStringList>("options");
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
                           << QStringList() << 1;
    QTest::newRow("healthy, reinstall and downgrade")
        << site{{"c2.0.7", fault::none, "upgraded", ""},
                {"c2.0.8", fault::none, "upgraded", ""},
                {"c2.0.9", fault::none, "upgraded", ""}}
        << QStringList{"--reinstall", "--allow-downgrade", "--jobs", "2"} << 0;
}

void test_fleet::run_site()
{
    QFETCH(site, sensors);
    QFETCH(QStringList, options);
    fleet_site fleet;
    QVERIFY(fleet.start(sensors));
    fleet.launch(options);
    QTEST(fleet.finish(), "exit_code");
    const QString output = QString::fromUtf8(fleet.program.readAll());
    QCOMPARE(fleet.record().size(), sensors.size());
    for (int i = 0; i < sensors.size() && !QTest::currentTestFailed(); ++i) {
        fleet.check(i, sensors[i]);
        const QRegularExpression prefixed("^\\W*" + QRegularExpression::escape(address_of(i)) +
                                              "\\b",
                                          QRegularExpression::MultilineOption);
        QVERIFY2(prefixed.match(output).hasMatch(), qPrintable(address_of(i)));
    }
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

void test_fleet::interrupt_data()
{
    QTest::addColumn<int>("interrupts");
    QTest::addColumn<QString>("running_result");
    QTest::newRow("once: running sensors finish") << 1 << "upgraded";
    QTest::newRow("twice: running links abort") << 2 << "interrupted";
}

void test_fleet::interrupt()
{
#ifdef Q_OS_WIN
    QSKIP("interrupts are POSIX signals");
#else
    QFETCH(int, interrupts);
    QFETCH(QString, running_result);
    const site_sensor slow{"c2.0.7", fault::slow, "", ""};
    fleet_site fleet;
    QVERIFY(fleet.start({slow, slow, slow, slow}));
    fleet.launch({"--jobs", "2"});
    // Two links busy with an image, two sensors waiting for a free job.
    const auto downloading = [&] {
        return std::count_if(fleet.sensors.begin(), fleet.sensors.end(),
                             [](const auto &sensor) { return sensor->commands().size() > 1; });
    };
    QTRY_COMPARE_WITH_TIMEOUT(downloading(), 2, 60000);
    for (int i = 0; i < interrupts; ++i) {
        QTest::qWait(i * 300); // the second apart from the first
        // Never pid 0: that would signal this test's own process group.
        if (fleet.program.processId() > 0)
            ::kill(pid_t(fleet.program.processId()), SIGINT);
    }
    QCOMPARE(fleet.finish(), 1);
    QCOMPARE(fleet.record().size(), 4);
    int dialled = 0;
    for (int i = 0; i < 4 && !QTest::currentTestFailed(); ++i) {
        const bool ran = fleet.sensors[i]->connections() > 0;
        dialled += ran;
        fleet.check(i, {slow.version, slow.kind, ran ? running_result : "interrupted", ""});
    }
    QCOMPARE(dialled, 2);
#endif
}

QTEST_GUILESS_MAIN(test_fleet)
#include "test_fleet.moc"
