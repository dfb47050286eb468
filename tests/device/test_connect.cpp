#include <QElapsedTimer>
#include <QtTest>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"

namespace
{

const quint16 sensor_port = 50661;
const char *const address_message =
    "error: invalid IP address.\r\nnote:\r\n1) IP should contain four decimal numbers seprated "
    "by '.'\r\n2) every decimal number should stand at [0, 255]";

// A window in an empty working directory, its start-up messages already closed.
struct connect_fixture {
    scoped_workdir workdir;
    message_catcher catcher;
    Dialog dialog;

    connect_fixture() { catcher.texts.clear(); }

    // Presses "connect" with the address and returns how long the press took.
    qint64 press(const QString &address)
    {
        dialog_probe::widget<QLineEdit>(dialog, "lineEdit_ip")->setText(address);
        QElapsedTimer timer;
        timer.start();
        dialog_probe::widget<QPushButton>(dialog, "pushButton_connect")->click();
        return timer.elapsed();
    }
    QString shown_version() const
    {
        return dialog_probe::widget<QLineEdit>(dialog, "lineEdit_old_version")->text();
    }
};

} // namespace

class test_connect : public QObject
{
    Q_OBJECT

private slots:
    void connects_and_shows_version();
    void invalid_addresses_never_connect();
    void refused_connection();
    void log_replies_data();
    void log_replies();
};

void test_connect::connects_and_shows_version()
{
    sensor_config config;
    config.log = "boot r1.0.3\nupdated\nfirmware c2.0.7\n";
    simulated_sensor sensor(config, sensor_port);
    QVERIFY(sensor.wait_listening());
    connect_fixture f;
    f.press("127.0.0.1");
    QCOMPARE(f.catcher.texts, QStringList());
    QCOMPARE(f.shown_version(), QString("c2.0.7"));
    QCOMPARE(dialog_probe::device_version(f.dialog), QString("c2.0.7"));
    QCOMPARE(sensor.frames(), QList<QByteArray>({"readlog" + QByteArray(43, '\0')}));

    // A second press while connected asks nothing.
    f.press("127.0.0.1");
    QCOMPARE(f.catcher.texts, QStringList({"Lidar is already connected, don't repeat"}));
    QCOMPARE(sensor.frames().size(), 1);
    QCOMPARE(sensor.connections(), 1);

    // A bad address is reported even while connected.
    f.press("127.0.0.1.");
    QCOMPARE(f.catcher.texts.last(), QString(address_message));
}

void test_connect::invalid_addresses_never_connect()
{
    simulated_sensor sensor({}, sensor_port);
    QVERIFY(sensor.wait_listening());
    connect_fixture f;
    const QStringList bad = {"192.168.1",     "192.168.1.80.",     "192..1.80",
                             "192.168.1.256", "1.2.3.99999999999", " 127.0.0.1"};
    for (const QString &address : bad)
        f.press(address);
    QCOMPARE(f.catcher.texts, QStringList(QVector<QString>(bad.size(), address_message).toList()));
    QCOMPARE(sensor.connections(), 0);
    QCOMPARE(f.shown_version(), QString());

    f.press("127.000.000.001");
    QCOMPARE(f.shown_version(), QString("c2.0.7"));
}

void test_connect::refused_connection()
{
    {
        // Hold the port once, so no sensor of another test run is answering.
        simulated_sensor holder({}, sensor_port);
        QVERIFY(holder.wait_listening());
    }
    connect_fixture f;
    f.dialog.findChild<QLineEdit *>("lineEdit_old_version")->setText("old");
    const qint64 took = f.press("127.0.0.1");
    QCOMPARE(f.catcher.texts, QStringList({"error: connect DAE failed with IP 127.0.0.1!"}));
    QCOMPARE(f.shown_version(), QString("old"));
    QVERIFY(took < 4000);
    QCOMPARE(dialog_probe::device(f.dialog)->state(), QAbstractSocket::UnconnectedState);
}

void test_connect::log_replies_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("fault");
    QTest::addColumn<qint64>("bound_ms");
    enum { none, split_header, dropped, silent, absurd_length };
    QTest::newRow("header split over reads")
        << QByteArray("fw c2.0.7") << "c2.0.7" << int(split_header) << qint64(4000);
    QTest::newRow("latest of two")
        << QByteArray("r1.0.3 r1.0.4") << "r1.0.4" << int(none) << qint64(4000);
    QTest::newRow("no version") << QByteArray("boot ok\n") << "" << int(none) << qint64(4000);
    QTest::newRow("only at byte 0") << QByteArray("r1.0.4") << "" << int(none) << qint64(4000);
    QTest::newRow("link dropped during log")
        << QByteArray("version c2.0.7 and more text") << "" << int(dropped) << qint64(2000);
    QTest::newRow("silent sensor") << QByteArray("c2.0.7") << "" << int(silent) << qint64(12000);
    // A length no log comes near is refused at once, not waited for.
    QTest::newRow("absurd length")
        << QByteArray("version c2.0.7") << "" << int(absurd_length) << qint64(2000);
}

void test_connect::log_replies()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, field);
    QFETCH(int, fault);
    QFETCH(qint64, bound_ms);
    sensor_config config;
    config.log = log;
    config.split_log_header = fault == 1;
    config.drop_during_log = fault == 2;
    config.silent = fault == 3;
    config.announced_log_length = fault == 4 ? 0xF0000000u : 0;
    simulated_sensor sensor(config, sensor_port);
    QVERIFY(sensor.wait_listening());
    connect_fixture f;
    const qint64 took = f.press("127.0.0.1");
    QCOMPARE(f.shown_version(), field);
    QCOMPARE(dialog_probe::device_version(f.dialog), field);
    QCOMPARE(f.catcher.texts,
             field.isEmpty() ? QStringList({"error: get Lidar version fail"}) : QStringList());
    QVERIFY2(took < bound_ms, qPrintable(QString::number(took)));
}

QTEST_MAIN(test_connect)
#include "test_connect.moc"
