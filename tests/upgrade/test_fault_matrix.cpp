// Every sensor fault against the real window: the message shown, how long
// the window was busy, and that nothing follows a failure. Prints the matrix
// as a table at the end.
#include <QtTest>

#include "upgrade_fixture.h"

Q_DECLARE_METATYPE(sensor_config)

namespace {

// A responsive window again within this time, whatever the sensor does.
const qint64 responsive_bound_ms = 10000;

struct matrix_row {
    QString fault;
    QString message;
    qint64 busy_ms;
    bool nothing_after;
};

QList<matrix_row> matrix;

enum phase { connect_phase, upgrade_phase };

} // namespace

class test_fault_matrix : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void cleanupTestCase();
};

void test_fault_matrix::faults_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<sensor_config>("config");
    QTest::addColumn<QString>("message");

    const QString version_fail = "error: get Lidar version fail";
    const QString first_ack = "error: Lidar not prepared!";
    const QString second_ack = "rror: Lidar not prepared!";
    auto with = [](auto change) {
        sensor_config config;
        config.fault_from_download = 1;
        change(config);
        return config;
    };
    QTest::newRow("connection refused") << int(connect_phase) << sensor_config()
                                        << "error: connect DAE failed with IP 127.0.0.1!";
    QTest::newRow("silent after connect")
        << int(connect_phase) << with([](sensor_config &c) { c.silent = true; }) << version_fail;
    QTest::newRow("slow, split log header")
        << int(connect_phase) << with([](sensor_config &c) {
               c.split_log_header = true;
               c.log_delay_ms = 1000;
           }) << QString();
    QTest::newRow("absurd log length")
        << int(connect_phase) << with([](sensor_config &c) { c.announced_log_length = 0xFFFFFFF0u; })
        << version_fail;
    QTest::newRow("log without version")
        << int(connect_phase) << with([](sensor_config &c) { c.log = "boot ok\n"; }) << version_fail;
    QTest::newRow("link dropped during log")
        << int(connect_phase) << with([](sensor_config &c) { c.drop_during_log = true; })
        << version_fail;
    const QList<QPair<QString, ack_mode>> modes = {{"no", ack_mode::none},
                                                   {"late", ack_mode::late},
                                                   {"non-zero", ack_mode::nonzero},
                                                   {"split", ack_mode::split}};
    for (const auto &mode : modes) {
        const ack_mode m = mode.second;
        QTest::newRow(qPrintable(mode.first + " ack to download"))
            << int(upgrade_phase) << with([m](sensor_config &c) { c.download_ack = m; })
            << first_ack;
        QTest::newRow(qPrintable(mode.first + " ack to image"))
            << int(upgrade_phase) << with([m](sensor_config &c) { c.image_ack = m; })
            << second_ack;
    }
    QTest::newRow("link dropped during image")
        << int(upgrade_phase) << with([](sensor_config &c) { c.drop_after_image_bytes = 1000; })
        << second_ack;
    QTest::newRow("sensor closes after download")
        << int(upgrade_phase) << with([](sensor_config &c) { c.close_after_download = true; })
        << first_ack;
}

void test_fault_matrix::faults()
{
    QFETCH(int, phase);
    QFETCH(sensor_config, config);
    QFETCH(QString, message);
    const QString fault = QTest::currentDataTag();
    upgrade_fixture f;
    QElapsedTimer timer;
    timer.start();
    if (fault == "connection refused") {
        // Nothing listens: the fixture's sensor is not started.
        f.dialog = std::make_unique<Dialog>();
        f.catcher.texts.clear();
        f.widget<QLineEdit>("lineEdit_ip")->setText("127.0.0.1");
        timer.restart();
        f.widget<QPushButton>("pushButton_connect")->click();
        matrix << matrix_row{fault, f.catcher.texts.value(0), timer.elapsed(), true};
        QCOMPARE(f.catcher.texts, QStringList({message}));
        QVERIFY(matrix.last().busy_ms < responsive_bound_ms);
        return;
    }
    QVERIFY(f.prepare(upgrade_fixture::three_files(), config));
    qint64 busy = timer.elapsed();
    const QStringList connect_messages = f.catcher.texts;
    if (phase == upgrade_phase) {
        QCOMPARE(f.catcher.texts, QStringList());
        busy = f.press_upgrade();
    }
    const QList<QByteArray> commands = f.upgrade_commands();
    bool nothing_after = !commands.contains("shutdown");
    for (const QByteArray &command : commands)
        nothing_after = nothing_after && !command.contains("image2.bin");
    if (phase == connect_phase) {
        // A failed connect leaves nothing to upgrade with.
        f.catcher.texts.clear();
        f.press_upgrade();
        nothing_after = f.sensor->images().isEmpty() && !f.sensor->commands().contains("shutdown");
    }
    const QStringList messages = phase == connect_phase ? connect_messages : f.catcher.texts;
    matrix << matrix_row{fault, messages.value(0), busy, nothing_after};

    QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList({message}));
    if (phase == upgrade_phase) {
        QCOMPARE(f.statuses().mid(0, 1), QStringList({"finished"}));
        QCOMPARE(f.statuses().last(), QString("waiting"));
    } else if (message.isEmpty()) {
        // The run went through: nothing failed, so nothing is owed afterwards.
        QCOMPARE(dialog_probe::device_version(*f.dialog), QString("c2.0.7"));
        QCOMPARE(f.sensor->images().size(), 3);
        matrix.last().nothing_after = true;
        matrix.last().message = "(none: version c2.0.7 read)";
    } else {
        QVERIFY(dialog_probe::device_version(*f.dialog).isEmpty());
    }
    QVERIFY(matrix.last().nothing_after);
    QVERIFY2(busy < responsive_bound_ms, qPrintable(QString::number(busy)));
}

void test_fault_matrix::cleanupTestCase()
{
    QTextStream out(stdout);
    out << "\n" << QString("fault").leftJustified(32) << QString("message").leftJustified(48)
        << QString("busy ms").rightJustified(8) << "  nothing after\n";
    for (const matrix_row &row : matrix)
        out << row.fault.leftJustified(32) << row.message.leftJustified(48)
            << QString::number(row.busy_ms).rightJustified(8) << "  "
            << (row.nothing_after ? "yes" : "NO") << "\n";
    out.flush();
}

QTEST_MAIN(test_fault_matrix)
#include "test_fault_matrix.moc"
