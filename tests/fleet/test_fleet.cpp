// The headless fleet mode as a field engineer runs it: the program against a site of simulated
// sensors on 127.N.0.2, 127.N.0.3, ..., each checked by what it received and by its record line.
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <atomic>
#include <memory>
#include <vector>
#ifndef Q_OS_WIN
#include <csignal>
#endif

#include "fleet/address_range.h"
#include "minisign_keys.h"
#include "package_maker.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"
#include "test_net.h"

namespace
{

enum class fault {
    none,
    absent,
    unanswered,
    silent,
    stall,
    no_download_ack,
    late_ack,
    slow,
    back_new,
    back_old,
    gone,
    lingering,   // up at its old version after "shutdown", then down, then back with the new one
    stays_up,    // never goes down after "shutdown"
    back_silent, // restarts, then answers nothing
    drowsy,      // closes a link that brings nothing for 5 s
};

// One sensor of a site and the record line it should end with.
struct site_sensor {
    QByteArray version;
    fault kind;
    QString result;
    QString message;
    QString verified = {}; // the version read after the restart
};
using site = QVector<site_sensor>;
// Files of a package directory and their new bytes; null bytes remove the file.
using package_edits = QVector<QPair<QString, QByteArray>>;

const QString not_prepared = "rror: Lidar not prepared!";

QString address_of(int index)
{
    return test_address(index + 2);
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
    if (sensor.kind == fault::back_new || sensor.kind == fault::back_old ||
        sensor.kind == fault::back_silent)
        config.restart_after_ms = 1000;
    if (sensor.kind == fault::gone)
        config.restart_after_ms = 60000;
    if (sensor.kind == fault::lingering) {
        config.linger_after_shutdown_ms = 2500;
        config.restart_after_ms = 2000;
    }
    if (sensor.kind == fault::stays_up) {
        config.linger_after_shutdown_ms = 600000;
        config.restart_after_ms = 0;
    }
    if (sensor.kind == fault::back_new || sensor.kind == fault::lingering)
        config.log_after_restart = log("c2.0.8");
    config.silent_after_restart = sensor.kind == fault::back_silent;
    if (sensor.kind == fault::drowsy)
        config.idle_close_ms = 5000;
    config.silent = sensor.kind == fault::silent;
    config.full_backlog = sensor.kind == fault::unanswered;
    if (sensor.kind == fault::stall)
        config.stall_after_image_bytes = 10000;
    if (sensor.kind == fault::no_download_ack)
        config.download_ack = ack_mode::none;
    if (sensor.kind == fault::late_ack)
        config.image_ack = ack_mode::late;
    // About two seconds for the large image: time enough to interrupt mid-image.
    if (sensor.kind == fault::slow)
        config.image_read_rate = 20000;
    return config;
}

// A package with its settings file and a site's sensors (none for an absent one) in a fresh
// working directory, and the program run against them.
// Sensors on 127.0.N.1, 127.0.N.2, ... of a block of the test's own.
struct sensor_block {
    std::vector<std::unique_ptr<simulated_sensor>> sensors;

    bool start(int block, int count, const sensor_config &config)
    {
        for (int i = 1; i <= count; ++i) {
            sensors.emplace_back(new simulated_sensor(
                config, 50661, {}, QHostAddress(QString("127.0.%1.%2").arg(block).arg(i))));
            if (!sensors.back()->wait_listening())
                return false;
        }
        return true;
    }

    // How many sensors have received frame.
    int received(const QByteArray &frame) const
    {
        return int(std::count_if(sensors.begin(), sensors.end(), [&](const auto &sensor) {
            return sensor->commands().contains(frame);
        }));
    }
};

struct fleet_site {
    scoped_workdir workdir;
    package_contents package{{{"app.bin", 1, QByteArray("17 bytes a round.").repeated(2353)},
                              {"params.txt", 0, "p=1\n"}},
                             "c2.0.8",
                             "{c2.0.7,c2.0.8};{c2.0.8,c2.0.9};"};
    std::vector<std::unique_ptr<simulated_sensor>> sensors;
    QProcess program;

    QString path(const QString &name) const { return QDir(workdir.path()).filePath(name); }

    // The first sensor named as an argument, the others in order in two sensors files.
    bool start(const site &wanted)
    {
        QFile lists[2]{path("sensors"), path("sensors2")};
        if (!make_package(path("pkg"), package, path("config"), true, nullptr) ||
            !lists[0].open(QIODevice::WriteOnly) || !lists[1].open(QIODevice::WriteOnly) ||
            !lists[0].write("# one address a line\n"))
            return false;
        for (int i = 0; i < wanted.size(); ++i) {
            lists[i > wanted.size() / 2].write(i ? address_of(i).toUtf8() + '\n' : QByteArray());
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

    QStringList site_arguments(const QString &record = "record.jsonl") const
    {
        return {"--record",  path(record),     "--sensors",  path("sensors"),
                "--sensors", path("sensors2"), address_of(0)};
    }

    // A shell, if given, runs the program as "$0" "$@".
    void launch(const QStringList &options, const QStringList &shell = {})
    {
        launch_with(package_arguments() + site_arguments() + options, shell);
    }

    void launch_with(const QStringList &arguments, const QStringList &shell = {})
    {
        const QString corvalen = QCoreApplication::applicationDirPath() + "/" CORVALEN_PATH;
        program.setProcessChannelMode(QProcess::MergedChannels);
        if (shell.isEmpty())
            program.start(corvalen, arguments);
        else
            program.start(shell.first(), shell.mid(1) + QStringList(corvalen) + arguments);
    }

    // The exit code, or -1 when the program hung or crashed.
    int finish()
    {
        if (!program.waitForFinished(60000))
            program.kill();
        program.waitForFinished(5000);
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    }

#ifndef Q_OS_WIN
    // SIGINT as Ctrl+C in a terminal sends it, SIGHUP as a closed session, SIGTERM as a stop.
    void signal(int number)
    {
        // Never pid 0: that would signal this test's own process group.
        if (program.processId() > 0)
            ::kill(pid_t(program.processId()), number);
    }
#endif

    // Standard output and error, with the line ends the program wrote.
    QString output()
    {
        QString text = QString::fromUtf8(program.readAll());
#ifdef Q_OS_WIN
        text.replace("\r\n", "\n"); // the C runtime's text mode
#endif
        return text;
    }

    QList<QByteArray> record_lines() const
    {
        QFile file(path("record.jsonl"));
        QList<QByteArray> lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    lines << line;
        return lines;
    }

    // Every line of the record that is a JSON object.
    QList<QJsonObject> record() const
    {
        QList<QJsonObject> lines;
        for (const QByteArray &line : record_lines())
            if (QJsonDocument::fromJson(line).isObject())
                lines << QJsonDocument::fromJson(line).object();
        return lines;
    }

    // Sensors that were sent a file; others may have had their version read ahead.
    int started() const
    {
        return int(std::count_if(sensors.begin(), sensors.end(), [](const auto &sensor) {
            return sensor && sensor->commands().size() > 1;
        }));
    }

    QJsonObject line_of(int index) const
    {
        QJsonObject line;
        for (const QJsonObject &each : record())
            line = each["address"] == address_of(index) ? each : line;
        return line;
    }

    // The sensors' console lines carry their address, the record's keys come in their order,
    // and the summary's MB/s is over the images' streaming time.
    void check_lines(const QString &output) const
    {
        const QRegularExpression sensor_line("^127\\.0\\.0\\.\\d+: ");
        const QStringList lines = output.split('\n');
        int at = lines.indexOf(sensor_line);
        for (; at >= 0 && at < lines.size() && !lines[at].isEmpty(); ++at)
            QVERIFY2(lines[at].contains(sensor_line), qPrintable(lines[at]));
        const QStringList summary = lines.mid(at + 2);
        for (const QByteArray &text : record_lines()) {
            QStringList keys{"address", "old_version", "new_version", "verified_version",
                             "result",  "message",     "detail",      "files"};
            const QJsonObject line = QJsonDocument::fromJson(text).object();
            double bytes = 0, seconds = 0;
            for (const QJsonValue &file : line["files"].toArray()) {
                keys << QStringList{"name", "bytes", "sha256", "seconds"};
                bytes += file["bytes"].toDouble();
                seconds += file["seconds"].toDouble();
            }
            QStringList found;
            auto keys_found =
                QRegularExpression("\"(\\w+)\":").globalMatch(QString::fromUtf8(text));
            while (keys_found.hasNext())
                found << keys_found.next().captured(1);
            QCOMPARE(found,
                     keys + QStringList({"started", "seconds", "package", "signed_by", "tool"}));
            const QString rate = QString::number(seconds > 0 ? bytes / seconds / 1e6 : 0, 'f', 2);
            const QRegularExpression row("^" + line["address"].toString() + " .* " + rate + "$");
            QVERIFY2(summary.indexOf(row) >= 0, qPrintable(rate + "\n" + summary.join('\n')));
        }
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
Q_DECLARE_METATYPE(package_edits)

class test_fleet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void run_site_data();
    void run_site();
    void log_read_beside_stream();
#ifndef Q_OS_WIN
    void record_survives_data();
    void record_survives();
    void interrupts_data();
    void interrupts();
    void signal_among_dead_addresses();
    void descriptors_data();
    void descriptors();
#endif
    void refused_before_dialling_data();
    void refused_before_dialling();
    void signed_packages_data();
    void signed_packages();
    void dials_each_sensor_named_once_data();
    void dials_each_sensor_named_once();
    void package_changes_while_sending_data();
    void package_changes_while_sending();
    void check_site_data();
    void check_site();
    void ranges_data();
    void ranges();
    void retry_what_is_left();
    void address_ranges_data();
    void address_ranges();
    void max_rate_refused_data();
    void max_rate_refused();
    void rate_cap_holds();
    void check_reads_logs_at_once();
    void memory_bound_by_links();
};

// A program without the fleet mode fails here once, instead of hanging in every case.
void test_fleet::initTestCase()
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // for the program, which needs no display
    fleet_site fleet;
    fleet.launch_with({"--help"});
    QCOMPARE(fleet.finish(), 0);
    QVERIFY(fleet.program.readAll().contains("current, outdated, refused, unreachable, found, "
                                             "interrupted, empty"));
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
    // Another version than the package's counts once the sensor was seen gone.
    QTest::newRow("verified after restart")
        << site{{"c2.0.7", fault::back_new, "upgraded", "", "c2.0.8"},
                {"c2.0.7", fault::back_old, "failed",
                 "error: sensor restarted with c2.0.7, not c2.0.8", "c2.0.7"},
                {"c2.0.7", fault::gone, "failed", "error: sensor did not come back within 8 s"},
                {"c2.0.7", fault::lingering, "upgraded", "", "c2.0.8"},
                {"c2.0.7", fault::stays_up, "failed",
                 "error: sensor did not restart within 8 s (still at c2.0.7)"},
                {"c2.0.7", fault::back_silent, "failed",
                 "error: sensor came back without its version"}}
        << QStringList{"--verify", "8"} << 1;
    const site_sensor refusing{"c2.0.1", fault::none, "failed", forbidden};
    const site_sensor good{"c2.0.7", fault::none, "upgraded", ""};
    const auto stopped = [](const QString &rule) {
        return site_sensor{"c2.0.7", fault::none, "not_started", rule};
    };
    const site_sensor after_canary =
        stopped("the first 1 sensors (--canary) were not all upgraded");
    QTest::newRow("canary refused: the rest not started")
        << site{refusing, after_canary, after_canary} << QStringList{"--canary", "1", "--jobs", "1"}
        << 1;
    const site_sensor current{"c2.0.8", fault::none, "skipped", ""};
    QTest::newRow("canaries upgraded or current: the rest follow")
        << site{good, current, refusing, good} << QStringList{"--canary", "2", "--jobs", "1"} << 1;
    const site_sensor after_failures = stopped("2 sensors failed (--max-failures)");
    QTest::newRow("max failures reached")
        << site{refusing, good, refusing, after_failures, after_failures}
        << QStringList{"--max-failures", "2", "--jobs", "1"} << 1;
}

void test_fleet::run_site()
{
    QFETCH(site, sensors);
    QFETCH(QStringList, options);
    fleet_site fleet;
    QVERIFY(fleet.start(sensors));
    fleet.launch(options);
    // With --verify S the run ends within S s of "shutdown", whatever the sensors do.
    const int verify = options.value(options.indexOf("--verify") + 1).toInt();
    QElapsedTimer since_shutdown;
    const auto shut_down = [&] {
        return std::any_of(fleet.sensors.begin(), fleet.sensors.end(), [](const auto &sensor) {
            return sensor->commands().contains("shutdown");
        });
    };
    QVERIFY(!verify || fleet.sensors[0]->wait_until(shut_down, 30000));
    since_shutdown.start();
    QTEST(fleet.finish(), "exit_code");
    QVERIFY(!verify || since_shutdown.elapsed() < verify * 1000 + 2500);
    const QString output = fleet.output();
    QCOMPARE(fleet.record().size(), sensors.size());
    fleet.check_lines(output);
    for (int i = 0; i < sensors.size() && !QTest::currentTestFailed(); ++i) {
        fleet.check(i, sensors[i]);
        // Every sensor has lines of its own, prefixed with its address.
        const QString prefix = "^\\W*" + QRegularExpression::escape(address_of(i)) + "\\b";
        QVERIFY(output.contains(QRegularExpression(prefix, QRegularExpression::MultilineOption)));
    }
}

// With one slot, the next sensor's log is read while the first one's image streams; a sensor
// that closed its link meanwhile is dialled again in its turn.
void test_fleet::log_read_beside_stream()
{
    fleet_site fleet;
    site sensors(2, {"c2.0.7", fault::slow, "upgraded", ""});
    QVERIFY(fleet.start(sensors << site_sensor{"c2.0.7", fault::drowsy, "upgraded", ""}));
    fleet.launch({"--jobs", "1"});
    const simulated_sensor &first = *fleet.sensors[0];
    QVERIFY(first.wait_until([&] { return first.commands().size() > 1; }, 30000));
    QCOMPARE(
        QList<bool>({fleet.sensors[1]->commands().contains("readlog"), first.images().isEmpty()}),
        QList<bool>({true, true}));
    QCOMPARE(fleet.finish(), 0);
    QCOMPARE(fleet.sensors[2]->connections(), 2);
    fleet.check(2, sensors[2]);
}

#ifndef Q_OS_WIN
void test_fleet::record_survives_data()
{
    QTest::addColumn<bool>("tmpfs");        // a full one of 16 kB on disk/, which needs root
    QTest::addColumn<QString>("command");   // runs the program as "$0" "$@"
    QTest::addColumn<QString>("record");    // in the working directory unless absolute
    QTest::addColumn<QByteArray>("before"); // the record's bytes before the run
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("output"); // a line it prints; %1 is the record's path
    QTest::addColumn<int>("started");    // of two sensors, one at a time
    const QString run = "exec \"$0\" \"$@\"";
    const QString unwritable = "error: cannot write record %1: ";
    QTest::newRow("full disk") << true << "head -c 64k /dev/zero > disk/fill; " + run
                               << "disk/record.jsonl" << QByteArray() << 1
                               << unwritable + "No space left on device" << 1;
    QTest::newRow("not a file") << false << run << "/proc/version" << QByteArray() << 1
                                << unwritable + "Input/output error" << 1;
    QTest::newRow("last line cut by a crash")
        << false << run << "record.jsonl" << QByteArray("{\"address\":\"127.0") << 0 << "" << 2;
    QTest::newRow("console closed") << false << "set -o pipefail; \"$0\" \"$@\" 2>&1 | head -1"
                                    << "record.jsonl" << QByteArray() << 0 << "" << 2;
}

void test_fleet::record_survives()
{
    QFETCH(bool, tmpfs);
    QFETCH(QString, command);
    QFETCH(QString, record);
    QFETCH(QByteArray, before);
    QFETCH(QString, output);
    fleet_site fleet;
    QVERIFY(fleet.start(site(2, {"c2.0.7", fault::none, "upgraded", ""})));
    const QString disk = fleet.path("disk");
    if (tmpfs && (!QDir().mkpath(disk) ||
                  QProcess::execute("unshare", {"-m", "mount", "-t", "tmpfs", "tmpfs", disk}) != 0))
        QSKIP("no private mount namespace with a tmpfs here (needs root and unshare -m): "
              "full disk not tried");
    const QString mount = "mount -t tmpfs -o size=16k tmpfs " + disk + "; ";
    const QStringList shell = tmpfs ? QStringList{"unshare", "-m", "bash", "-c", mount + command}
                                    : QStringList{"bash", "-c", command};
    record = QDir(fleet.workdir.path()).absoluteFilePath(record);
    QFile old(fleet.path("record.jsonl"));
    QVERIFY(before.isEmpty() || (old.open(QIODevice::WriteOnly) && old.write(before) > 0));
    old.close();
    fleet.launch_with(fleet.package_arguments() + fleet.site_arguments(record) +
                          QStringList{"--jobs", "1"},
                      shell);
    QTEST(fleet.finish(), "exit_code");
    QVERIFY(fleet.program.readAll().contains(QString(output).replace("%1", record).toUtf8()));
    QTEST(fleet.started(), "started");
    if (fleet.started() == 2) {
        // A line cut before the run stays as it was, on a line of its own.
        QCOMPARE(fleet.record_lines().size(), 2 + !before.isEmpty());
        QVERIFY(before.isEmpty() || fleet.record_lines().first() == before);
        for (int i = 0; i < 2; ++i)
            fleet.check(i, {"c2.0.7", fault::none, "upgraded", ""});
    }
}

void test_fleet::interrupts_data()
{
    QTest::addColumn<site>("sensors");      // four at a time
    QTest::addColumn<QVector<int>>("sent"); // once the running four wait, 300 ms apart
    QTest::addColumn<QString>("said");      // the last line about stopping
    const site_sensor slow{"c2.0.7", fault::slow, "upgraded", ""};
    const QString now = "stopping: the running sensors stop now, their links reset";
    QTest::newRow("Ctrl+C once: the running sensors finish")
        << site(5, slow) << QVector<int>{SIGINT}
        << "stopping: no new sensor is dialled; 4 streaming will finish; Ctrl+C again stops them";
    // Each at another wait: the download's and the image's acknowledgements, for the sensor to
    // take the image, for the log (last, since its turn to stream would hold up the others');
    // the fifth waits, its version read, for its turn.
    const site waiting{{"c2.0.7", fault::no_download_ack, "interrupted", ""},
                       {"c2.0.7", fault::late_ack, "interrupted", ""},
                       {"c2.0.7", fault::slow, "interrupted", ""},
                       {"c2.0.7", fault::silent, "interrupted", ""},
                       {"c2.0.7", fault::slow, "interrupted", ""}};
    QTest::newRow("Ctrl+C twice: every wait stops")
        << waiting << QVector<int>{SIGINT, SIGINT} << now;
    QTest::newRow("Ctrl+C twice: the connect stops")
        << site{{"c2.0.7", fault::silent, "interrupted", ""},
                {"c2.0.7", fault::unanswered, "interrupted", ""}}
        << QVector<int>{SIGINT, SIGINT} << now;
    QTest::newRow("SIGTERM") << waiting << QVector<int>{SIGTERM} << now;
    QTest::newRow("SIGHUP") << waiting << QVector<int>{SIGHUP} << now;
}

void test_fleet::interrupts()
{
    QFETCH(site, sensors);
    QFETCH(QVector<int>, sent);
    fleet_site fleet;
    QVERIFY(fleet.start(sensors));
    fleet.launch({"--jobs", "4"});
    const int running = qMin(4, sensors.size());
    // A connect is never seen by the sensor: it waits as soon as the others were dialled.
    const auto waiting = [&] {
        int at_wait = 0;
        for (int i = 0; i < running; ++i) {
            const simulated_sensor &sensor = *fleet.sensors[i];
            at_wait += sensors[i].kind == fault::unanswered ? true
                       : sensors[i].kind == fault::silent   ? sensor.commands().size() == 1
                       : sensors[i].kind == fault::late_ack ? sensor.images().size() == 1
                                                            : sensor.commands().size() == 2;
        }
        return at_wait == running;
    };
    QTRY_VERIFY_WITH_TIMEOUT(waiting(), 30000);
    QElapsedTimer since_last;
    for (int number : sent) {
        QTest::qWait(since_last.isValid() ? 300 : 0);
        fleet.signal(number);
        since_last.start();
    }
    QCOMPARE(fleet.finish(), 1);
    // Links told to stop do so at once: no wait runs on to its own end, 3 s or more away.
    QVERIFY(sensors[0].result != "interrupted" || since_last.elapsed() < 2000);
    const QStringList stopping = fleet.output().split('\n').filter(QRegularExpression("^stopping"));
    QTEST(stopping.value(stopping.size() - 1), "said");
    for (const auto &sensor : fleet.sensors)
        sensor->mark_tool_gone();
    QCOMPARE(fleet.record().size(), sensors.size());
    for (int i = 0; i < sensors.size() && !QTest::currentTestFailed(); ++i) {
        const site_sensor expected =
            i < running ? sensors[i] : site_sensor{"", {}, "interrupted", ""};
        fleet.check(i, expected);
        // Once the tool gave up nothing more reaches the sensor, whatever was still queued.
        const simulated_sensor &sensor = *fleet.sensors[i];
        QVERIFY(i >= running || sensors[i].kind != fault::slow ||
                sensor.wait_until([&] { return !sensor.images().isEmpty(); }, 10000));
        QCOMPARE(sensor.bytes_after_tool_gone(), 0);
    }
}

// However many links wait for a connection, SIGTERM ends the run at once: 1020 addresses that
// answer no connection, 500 dialled at a time, take 9 s without it.
void test_fleet::signal_among_dead_addresses()
{
    fleet_site fleet;
    QVERIFY(fleet.start({}));
    sensor_config dropping;
    dropping.full_backlog = true;
    // On every address at once, its queue of connections full.
    fleet.sensors.emplace_back(new simulated_sensor(dropping, 50661, {}, QHostAddress::AnyIPv4));
    QVERIFY(fleet.sensors[0]->wait_listening());
    fleet.launch_with(fleet.package_arguments() +
                          QStringList{"--record", fleet.path("record.jsonl"),
                                      test_net() + ".8.0/23", test_net() + ".10.0/23"},
                      {"sh", "-c", "ulimit -n 3064; exec \"$0\" \"$@\""});
    const QString descriptors = QString("/proc/%1/fd").arg(fleet.program.processId());
    QVERIFY(fleet.sensors[0]->wait_until([&] { return QDir(descriptors).count() > 600; }, 30000));
    fleet.signal(SIGTERM);
    QElapsedTimer since_signal;
    since_signal.start();
    QVERIFY(fleet.program.waitForFinished(3000));
    QCOMPARE(fleet.finish(), 1);
    const QList<QJsonObject> record = fleet.record();
    QCOMPARE(record.size(), 1020);
    for (const QJsonObject &line : record)
        QCOMPARE(line["result"].toString(), QString("interrupted"));
}

void test_fleet::descriptors_data()
{
    QTest::addColumn<QString>("limit"); // the program's descriptors
    QTest::addColumn<int>("sensors");   // all at once, as --jobs asks
    QTest::addColumn<QString>("note");
    QTest::newRow("150 sensors, 256 descriptors at most")
        << "ulimit -n 256" << 150
        << "note: the open-file limit carries 32 links at once; 32 jobs instead of 150";
    QTest::newRow("40 sensors, 64 descriptors unless raised") << "ulimit -Sn 64" << 40 << "";
}

void test_fleet::descriptors()
{
    QFETCH(QString, limit);
    QFETCH(int, sensors);
    fleet_site fleet;
    // Small images: the limits are what is tried.
    fleet.package.files = {{"app.bin", 1, "tiny image"}};
    QVERIFY(fleet.start(site(sensors, {"c2.0.7", fault::none, "upgraded", ""})));
    fleet.launch({"--jobs", QString::number(sensors)},
                 {"sh", "-c", limit + "; exec \"$0\" \"$@\""});
    QCOMPARE(fleet.finish(), 0);
    QFETCH(QString, note);
    QVERIFY(fleet.program.readAll().contains(note.toUtf8()));
    QCOMPARE(fleet.record().size(), sensors);
    for (int i = 0; i < sensors && !QTest::currentTestFailed(); ++i)
        fleet.check(i, {"c2.0.7", fault::none, "upgraded", ""});
}
#endif

void test_fleet::refused_before_dialling_data()
{
    QTest::addColumn<package_edits>("edits"); // files in the package directory
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("said"); // on standard error
    const QString long_name = QString(36, 'n') + ".bin";
    QTest::newRow("missing image")
        << package_edits{{"app.bin", {}}} << QStringList() << "error: file open failed! (";
    QTest::newRow("image cut mid-block") << package_edits{{"app.bin", "1234567"}} << QStringList()
                                         << "error: file app.bin is cut short!";
    QTest::newRow("manifest mismatch")
        << package_edits{{"params.txt", encrypt_package_bytes("p=2\n")}} << QStringList()
        << "error: package does not match its manifest: params.txt";
    // The working directory's trust store, which any key makes one.
    const QByteArray key = ("Ed" + QByteArray(40, 'k')).toBase64();
    QTest::newRow("unsigned under a trust store")
        << package_edits{{"../trusted_keys", key}} << QStringList()
        << "error: package is not signed by a trusted key (no manifest.minisig)";
    QTest::newRow("checked unsigned under a trust store")
        << package_edits{{"../trusted_keys", key}} << QStringList{"--check"}
        << "error: package is not signed by a trusted key";
    QTest::newRow("no such trust store") << package_edits() << QStringList{"--trusted-keys", "none"}
                                         << "error: cannot read trusted keys none!";
    QTest::newRow("missing padding count")
        << package_edits{{"app.bin_config", {}}} << QStringList() << "";
    QTest::newRow("padding count not a number")
        << package_edits{{"app.bin_config", "abc\n"}} << QStringList()
        << "padding count of app.bin is not a number";
    QTest::newRow("missing update list")
        << package_edits{{"updatelist", {}}} << QStringList() << "";
    QTest::newRow("bad version") << package_edits{{"version", encrypt_package_bytes("c2.08")}}
                                 << QStringList() << "";
    QTest::newRow("missing settings")
        << package_edits{{"../config", {}}} << QStringList() << "config: ";
    QTest::newRow("settings naming no file")
        << package_edits{{"../config", ""}} << QStringList() << "names no package file";
    QTest::newRow("name leaving the package") << package_edits{{"../config", "../pkg/app.bin 1\n"}}
                                              << QStringList() << "outside the package directory";
    QTest::newRow("name too long for the download frame")
        << package_edits{{long_name, encrypt_package_bytes("x")},
                         {long_name + "_config", "15\n"},
                         {"../config", long_name.toUtf8() + " 1\n"}}
        << QStringList() << "53 bytes, more than its frame's 50";
    QTest::newRow("package not a directory")
        << package_edits() << QStringList{"--package", "config"} << "config is not a directory";
    QTest::newRow("address message without carriage returns")
        << package_edits() << QStringList{"127.0.0.300"} << "'.'\n2) every";
    QTest::newRow("address in a sensors file") << package_edits{{"../sensors", "127.0.0.300\n"}}
                                               << QStringList() << "sensors:1: 127.0.0.300: error";
    QTest::newRow("no jobs") << package_edits() << QStringList{"--jobs", "0"} << "";
    QTest::newRow("unknown option")
        << package_edits() << QStringList{"-127.0.0.1"} << "error: unknown option -127.0.0.1\n";
    QTest::newRow("option given twice")
        << package_edits() << QStringList{"--record", "other"} << "error: --record given twice\n";
}

void test_fleet::refused_before_dialling()
{
    QFETCH(package_edits, edits);
    QFETCH(QStringList, options);
    fleet_site fleet;
    QVERIFY(fleet.start({{"c2.0.7", fault::none, "", ""}, {"c2.0.8", fault::none, "", ""}}));
    for (const auto &edit : edits) {
        QFile file(fleet.path("pkg/" + edit.first));
        QVERIFY(edit.second.isNull() ? file.remove()
                                     : file.open(QIODevice::WriteOnly) &&
                                           file.write(edit.second) == edit.second.size());
    }
    if (options.contains("--package"))
        fleet.launch_with(options + fleet.site_arguments());
    else
        fleet.launch(options);
    QCOMPARE(fleet.finish(), 2);
    const QString output = fleet.output();
    QFETCH(QString, said);
    QVERIFY2(output.contains(said), qPrintable(output));
    if (!edits.isEmpty() && edits[0].first != "../sensors") {
        fleet.launch_with({"--inspect", fleet.path("pkg"), "--config", fleet.path("config")});
        QCOMPARE(fleet.finish(), 2);
    }
    for (const auto &sensor : fleet.sensors)
        QVERIFY(!sensor->wait_until([&] { return sensor->connections() > 0; }, 300));
}

void test_fleet::signed_packages_data()
{
    QTest::addColumn<bool>("signed_package");
    QTest::addColumn<bool>("trust_store"); // two keys, the package's the second
    QTest::addColumn<bool>("manifest");
    QTest::addColumn<QString>("said"); // on standard error; %1: the key ID
    QTest::addColumn<QString>("inspected");
    QTest::newRow("trusted") << true << true << true << ""
                             << "signature by key %1, trusted\ntrusted comment release c2.0.8\n";
    QTest::newRow("signed, no trusted keys")
        << true << false << true << "note: package signed by key %1, no trusted keys given"
        << "signature by key %1, not verified: no trusted keys given\ntrusted comment release "
           "c2.0.8\n";
    QTest::newRow("unsigned") << false << false << true << "note: package not signed"
                              << "signature none\n";
    QTest::newRow("without a manifest") << false << false << false << "note: package not signed"
                                        << "signature none\n";
}

// Each record line names the package (its manifest's SHA-256, or that of the manifest it would
// have), the trusted key that signed it, and the tool.
void test_fleet::signed_packages()
{
    QFETCH(bool, signed_package);
    QFETCH(bool, trust_store);
    QFETCH(bool, manifest);
    fleet_site fleet;
    QVERIFY(fleet.start({{"c2.0.7", fault::none, "", ""}}));
    const minisign_keys old_key(fleet.workdir.path(), "old"), key(fleet.workdir.path(), "key");
    if (!key.made() || !old_key.made())
        QSKIP("minisign is not installed");
    const QString id = key.key_id();
    QFile manifest_file(fleet.path("pkg/manifest"));
    QVERIFY(manifest_file.open(QIODevice::ReadOnly));
    const QByteArray manifest_text = manifest_file.readAll();
    QVERIFY(!signed_package || key.sign(manifest_file.fileName(), "release c2.0.8"));
    QVERIFY(manifest || manifest_file.remove());
    QFile store(fleet.path("trusted_keys"));
    QVERIFY(!trust_store || (store.open(QIODevice::WriteOnly) &&
                             store.write(old_key.public_key() + key.public_key()) > 0));
    store.close();
    fleet.launch({});
    QCOMPARE(fleet.finish(), 0);
    QFETCH(QString, said);
    const QString output = fleet.output();
    QVERIFY2(output.contains(said.arg(id)) && output.contains("note:") == !trust_store,
             qPrintable(output));
    const QJsonObject line = fleet.record().value(0);
    QCOMPARE(QStringList({line["package"].toString(), line["signed_by"].toString(),
                          line["tool"].toString(), line["result"].toString()}),
             QStringList({sha256_hex(manifest_text), trust_store ? id : "", "1.0", "upgraded"}));
    QCOMPARE(line["signed_by"].isNull(), !trust_store);
    fleet.launch_with({"--inspect", fleet.path("pkg"), "--config", fleet.path("config")});
    QCOMPARE(fleet.finish(), 0);
    QFETCH(QString, inspected);
    QVERIFY2(fleet.output().contains("\nsha256 " + sha256_hex(manifest_text) + "\n" +
                                     inspected.arg(id) + "version c2.0.8\n"),
             qPrintable(fleet.output()));
}

void test_fleet::dials_each_sensor_named_once_data()
{
    QTest::addColumn<QList<int>>("hosts");       // simulated sensors on 127.N.0.host
    QTest::addColumn<QStringList>("named");      // the first on the command line, the others listed
    QTest::addColumn<QList<int>>("connections"); // per sensor
    QTest::addColumn<QStringList>("said");
    // 010 is ten, not the octal eight the system's resolver would read.
    const QString net = test_net();
    QTest::newRow("leading zeros")
        << QList<int>{8, 10} << QStringList{net + ".0.010"} << QList<int>{0, 1} << QStringList();
    QTest::newRow("one sensor in three spellings")
        << QList<int>{2} << QStringList{net + ".0.2", net + ".0.02", net + ".0.002", net + ".0.2"}
        << QList<int>{1}
        << QStringList{net + ".0.02: the same sensor as " + net + ".0.2, dialled once",
                       net + ".0.2: listed twice, dialled once"};
}

void test_fleet::dials_each_sensor_named_once()
{
    QFETCH(QList<int>, hosts);
    QFETCH(QStringList, named);
    fleet_site fleet;
    QVERIFY(fleet.start({}));
    for (int host : hosts) {
        fleet.sensors.emplace_back(new simulated_sensor(config_of({"c2.0.7", fault::none, "", ""}),
                                                        50661, {},
                                                        QHostAddress(test_address(host))));
        QVERIFY(fleet.sensors.back()->wait_listening());
    }
    QFile list(fleet.path("sensors"));
    QVERIFY(list.open(QIODevice::Append) && list.write(named.mid(1).join('\n').toUtf8()) >= 0);
    list.close();
    fleet.launch_with({"--package", fleet.path("pkg"), "--config", fleet.path("config"), "--record",
                       fleet.path("record.jsonl"), "--sensors", fleet.path("sensors"),
                       named.first()});
    QCOMPARE(fleet.finish(), 0);
    const QString output = fleet.output();
    QFETCH(QStringList, said);
    for (const QString &line : said)
        QVERIFY2(output.contains(line), qPrintable(line));
    QList<int> connections;
    for (const auto &sensor : fleet.sensors)
        connections << sensor->connections();
    QTEST(connections, "connections");
    const QList<QJsonObject> record = fleet.record();
    QCOMPARE(record.size(), 1);
    QCOMPARE(QStringList({record[0]["address"].toString(), record[0]["result"].toString()}),
             QStringList({named.first(), "upgraded"}));
}

void test_fleet::package_changes_while_sending_data()
{
    QTest::addColumn<QString>("changed"); // when app.bin's download is announced
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("detail");
    QTest::newRow("a piece of the image") << "app.bin"
                                          << "error: file app.bin changed since it was listed!"
                                          << "";
    QTest::newRow("the next file removed") << "params.txt"
                                           << "error: file open failed!"
                                           << "params.txt: ";
}

// The first of three sensors finds the change; the others get no "download" frame.
void test_fleet::package_changes_while_sending()
{
    QFETCH(QString, changed);
    fleet_site fleet;
    // Five pieces of 64 KiB; the third is changed before the image starts to stream.
    const QByteArray image = QByteArray("seventeen bytes. ").repeated(18000);
    const int changed_at = 2 * 64 * 1024 + 32;
    fleet.package.files[0].content = image;
    QVERIFY(fleet.start(site(3, {"c2.0.7", fault::none, "", ""})));
    sensor_config config = fleet.sensors[0]->config();
    const QString path = fleet.path("pkg/" + changed);
    config.on_download = [&](const QString &) {
        QFile file(path);
        if (changed != "app.bin")
            file.remove();
        else if (file.open(QIODevice::ReadWrite) && file.seek(changed_at))
            file.write(QByteArray(16, '!'));
    };
    fleet.sensors[0]->set_config(config);
    fleet.launch({"--jobs", "1"});
    QCOMPARE(fleet.finish(), 1);
    const QByteArray received = fleet.sensors[0]->images().value(0).data;
    QVERIFY(received == image.left(received.size()));
    if (changed == "app.bin")
        QVERIFY(received.size() <= changed_at - 32);
    else
        QCOMPARE(received.size(), image.size());
    const QJsonObject line = fleet.line_of(0);
    QTEST(line["message"].toString(), "message");
    QFETCH(QString, detail); // null when empty
    QVERIFY(line["detail"].isNull() == detail.isEmpty() &&
            line["detail"].toString().contains(detail));
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(fleet.sensors[i]->commands(), QList<QByteArray>{"readlog"});
        QCOMPARE(fleet.line_of(i)["result"].toString(), QString("not_started"));
        QTEST(fleet.line_of(i)["message"].toString(), "message");
    }
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

void test_fleet::ranges_data()
{
    QTest::addColumn<QStringList>("options"); // 127.N.0.4-7 empty, 127.N.0.2 and .3 current
    QTest::addColumn<int>("sensors");         // in the summary's table
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("summary");
    const QStringList range{test_address(2) + "-7"};
    QTest::newRow("check") << QStringList("--check") + range << 2 << 0
                           << "2 sensors: 2 current \u00b7 4 empty addresses";
    QTest::newRow("check, a dead address named by itself")
        << QStringList("--check") + range + QStringList(test_address(9)) << 3 << 1
        << "3 sensors: 2 current, 1 unreachable \u00b7 4 empty addresses";
    QTest::newRow("upgrade") << range << 2 << 0 << "2 sensors: 2 skipped \u00b7 4 empty addresses";
    // A site where nothing answers is no site that runs the package.
    QTest::newRow("check, no sensor at all") << QStringList{"--check", test_address(4) + "-7"} << 0
                                             << 1 << "0 sensors \u00b7 4 empty addresses";
}

// An address of a range where nothing answers is no sensor: it has its line and is counted,
// apart, but neither listed nor failed.
void test_fleet::ranges()
{
    QFETCH(QStringList, options);
    fleet_site fleet;
    QVERIFY(fleet.start(site(2, {"c2.0.8", fault::none, "", ""})));
    fleet.launch_with(fleet.package_arguments() +
                      QStringList{"--record", fleet.path("record.jsonl")} + options);
    QTEST(fleet.finish(), "exit_code");
    const QString output = fleet.output();
    QFETCH(int, sensors);
    QCOMPARE(fleet.record().size(), sensors + 4);
    for (int i = 2; i < 6; ++i) {
        QVERIFY(output.contains(address_of(i) + ": empty ("));
        QCOMPARE(fleet.line_of(i)["message"], QJsonValue(""));
    }
    const QRegularExpression row("^127\\.\\d+\\.0\\.\\d+ +c?[\\d.]* -> ",
                                 QRegularExpression::MultilineOption);
    QCOMPARE(output.count(row), sensors);
    QFETCH(QString, summary);
    QVERIFY2(output.contains(summary + "\n"), qPrintable(output.right(300)));
}

// Only the sensors whose latest line (by their four numbers) is not done are dialled, in the
// records' order; the first record is the new run's too.
void test_fleet::retry_what_is_left()
{
    fleet_site fleet;
    QVERIFY(fleet.start(site(5, {"c2.0.7", fault::none, "", ""})));
    const QString net = test_net();
    const QVector<QPair<QString, QString>> earlier{
        {net + ".0.5", "failed"},   {net + ".0.02", "failed"}, {net + ".0.3", "interrupted"},
        {net + ".0.2", "upgraded"}, {net + ".0.4", "current"}, {net + ".0.9", "empty"}};
    QFile record(fleet.path("record.jsonl")), other(fleet.path("other.jsonl"));
    QVERIFY(record.open(QIODevice::WriteOnly) && other.open(QIODevice::WriteOnly));
    for (const auto &line : earlier)
        record.write(QJsonDocument(QJsonObject{{"address", line.first}, {"result", line.second}})
                         .toJson(QJsonDocument::Compact) +
                     "\nnot JSON\n");
    other.write("{\"address\":\"" + net.toUtf8() + ".0.6\",\"result\":\"failed\"}\n");
    record.close();
    other.close();
    fleet.launch_with(fleet.package_arguments() +
                      QStringList{"--jobs", "1", "--retry", record.fileName(), "--retry",
                                  other.fileName(), "--record", record.fileName()});
    QCOMPARE(fleet.finish(), 0);
    QVERIFY(fleet.output().contains("note: " + record.fileName() +
                                    ": 6 lines that are not JSON passed over"));
    QStringList dialled;
    for (const QJsonObject &line : fleet.record().mid(earlier.size()))
        dialled << line["address"].toString() + " " + line["result"].toString();
    QCOMPARE(dialled,
             QStringList({net + ".0.5 upgraded", net + ".0.3 upgraded", net + ".0.6 upgraded"}));
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

void test_fleet::max_rate_refused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("error");
    const QString nonsense = "error: --max-rate takes bytes a second, a whole number of at least "
                             "1, with k (1000) or M (1000000) if wanted!\n";
    for (const char *rate : {"0", "-1", "10X", "1.5M", "M", "0k"})
        QTest::newRow(rate) << QStringList{"--max-rate", rate} << nonsense;
    QTest::newRow("with --check") << QStringList{"--check", "--max-rate", "20M"}
                                  << "error: --check sends nothing; --max-rate is for --package "
                                     "alone!\n";
}

// Nothing is dialled: the arguments are refused first, in one line naming the option.
void test_fleet::max_rate_refused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, error);
    fleet_site fleet;
    fleet.launch_with(options + QStringList{"--package", fleet.path("pkg"), "127.0.32.1"});
    QCOMPARE(fleet.finish(), 2);
    QCOMPARE(fleet.output(), error);
}

// Four sensors share the cap: the image bytes they received, from the first download to the
// last image, came at the cap's rate within 15 %.
void test_fleet::rate_cap_holds()
{
    const qint64 rate = 400000;
    fleet_site fleet;
    fleet.package.files = {{"app.bin", 1, QByteArray("capped image bytes.").repeated(20000)}};
    QVERIFY(make_package(fleet.path("pkg"), fleet.package, fleet.path("config"), true, nullptr));
    QElapsedTimer clock;
    std::atomic<qint64> first_download{-1};
    sensor_config config;
    config.on_download = [&](const QString &) {
        qint64 unset = -1;
        first_download.compare_exchange_strong(unset, clock.nsecsElapsed());
    };
    sensor_block block;
    QVERIFY(block.start(32, 4, config));
    clock.start();
    fleet.launch_with(fleet.package_arguments() +
                      QStringList{"--max-rate", "400k", "--jobs", "4", "127.0.32.1-4"});
    const auto images = [&] {
        int count = 0;
        for (const auto &sensor : block.sensors)
            count += sensor->images().size();
        return count;
    };
    QVERIFY(block.sensors[0]->wait_until([&] { return images() == 4; }, 60000));
    const double seconds = double(clock.nsecsElapsed() - first_download) / 1e9;
    QCOMPARE(fleet.finish(), 0);
    const double received = 4.0 * fleet.package.files[0].content.size() / seconds;
    QVERIFY2(received <= rate * 1.15 && received >= rate * 0.85,
             qPrintable(QString("%1 bytes a second").arg(received)));
}

// A check holds no slot through the log read's last wait: every sensor of the range has been
// asked for its log before the first of them has ended.
void test_fleet::check_reads_logs_at_once()
{
    fleet_site fleet;
    sensor_block block;
    QVERIFY(block.start(33, 40, {}));
    fleet.launch_with({"--check", "--record", fleet.path("record.jsonl"), "127.0.33.1-40"});
    QVERIFY(block.sensors[0]->wait_until([&] { return block.received("readlog") == 40; }, 30000));
    QVERIFY(fleet.record_lines().isEmpty());
    QCOMPARE(fleet.finish(), 0);
    QCOMPARE(fleet.record_lines().size(), 40);
}

#ifdef Q_OS_LINUX
// The program's peak resident memory in kB, read while it runs; its last reading once it ended.
qint64 peak_memory_kb(fleet_site &fleet)
{
    const QString status = QString("/proc/%1/status").arg(fleet.program.processId());
    qint64 peak = 0;
    while (!fleet.program.waitForFinished(50)) {
        QFile file(status);
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    peak = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return peak;
}
#endif

// A link keeps what finding the version needs, not the log: sixteen 16 MiB logs cost the check
// little more than sixteen short ones.
void test_fleet::memory_bound_by_links()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the program's memory from /proc");
#else
    const int sensors = 16;
    const QByteArray line = "lidar firmware version c2.0.7 ";
    qint64 peak[2] = {};
    for (int large = 0; large < 2; ++large) {
        sensor_config config;
        config.log = large ? QByteArray(16 << 20, 'x') + line : "boot " + line;
        sensor_block block;
        QVERIFY(block.start(34 + large, sensors, config));
        fleet_site fleet;
        // Under AddressSanitizer freed memory would wait in its quarantine, counted as resident.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":quarantine_size_mb=0");
        fleet.program.setProcessEnvironment(environment);
        fleet.launch_with({"--check", QString("127.0.%1.1-%2").arg(34 + large).arg(sensors)});
        peak[large] = peak_memory_kb(fleet);
        QCOMPARE(fleet.finish(), 0);
    }
    QVERIFY2((peak[1] - peak[0]) / sensors <= 2048,
             qPrintable(QString("%1 kB, %2 kB").arg(peak[0]).arg(peak[1])));
#endif
}

QTEST_GUILESS_MAIN(test_fleet)
#include "test_fleet.moc"
