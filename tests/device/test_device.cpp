#include <QElapsedTimer>
#include <QHostAddress>
#include <QtTest>

#include "device/link_wait.h"
#include "device/replies.h"
#include "device/tcp_device.h"
#include "simulated_sensor.h"

namespace
{

QByteArray padded(const QByteArray &text)
{
    return text + QByteArray(50 - text.size(), '\0');
}

bool connect_to(tcp_device &device, const simulated_sensor &sensor)
{
    device.connectToHost(QHostAddress::LocalHost, sensor.port());
    return device.waitForConnected(3000);
}

} // namespace

class test_device : public QObject
{
    Q_OBJECT

private slots:
    void address_check_data();
    void address_check();
    void version_search_data();
    void version_search();
    void ack_and_length_decoding();
    void frames_on_the_wire();
    void acknowledgements_data();
    void acknowledgements();
    void version_reply_collected_and_bounded();
    void connect_wait_ends_at_its_deadline();
};

void test_device::address_check_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("leading zeros") << "192.168.001.080" << true;
    QTest::newRow("many zeros") << "0000000000127.0.0.1" << true;
    QTest::newRow("edges") << "0.0.0.255" << true;
    QTest::newRow("three parts") << "192.168.1" << false;
    QTest::newRow("five parts") << "192.168.1.80." << false;
    QTest::newRow("empty part") << "192..1.80" << false;
    QTest::newRow("256") << "192.168.1.256" << false;
    QTest::newRow("long number") << "1.2.3.99999999999" << false;
    QTest::newRow("leading blank") << " 192.168.1.80" << false;
    QTest::newRow("sign") << "+1.2.3.4" << false;
    QTest::newRow("arabic-indic digit") << QString("1.2.3.") + QChar(0x0664) << false;
    QTest::newRow("empty") << "" << false;
}

void test_device::address_check()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(is_valid_ipv4_text(text), valid);
}

void test_device::version_search_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("version");
    QTest::newRow("latest first") << QByteArray("boot r1.0.3 then r1.0.4 end") << "r1.0.4";
    QTest::newRow("prefix letter") << QByteArray("  xr1.0.4") << "r1.0.4";
    QTest::newRow("upper case") << QByteArray("  R1.0.4") << "";
    QTest::newRow("two digits") << QByteArray("  r10.0.4") << "";
    QTest::newRow("only at byte 0") << QByteArray("r1.0.4 and more") << "";
    QTest::newRow("exactly six bytes") << QByteArray("r1.0.4") << "";
    QTest::newRow("at the very end") << QByteArray("\x01"
                                                   "c2.0.7")
                                     << "c2.0.7";
    QTest::newRow("binary around") << QByteArray("\0\0\xff"
                                                 "c2.0.7\0\0",
                                                 11)
                                   << "c2.0.7";
    QTest::newRow("short") << QByteArray("ab") << "";
}

void test_device::version_search()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, version);
    QCOMPARE(find_lidar_version(log), version);
}

void test_device::ack_and_length_decoding()
{
    QCOMPARE(ack_value("0000"), 0);
    QCOMPARE(ack_value("abcd"), 0);
    QCOMPARE(ack_value(" 12 "), 12);
    QCOMPARE(ack_value(QByteArray("7\0"
                                  "99",
                                  4)),
             7);

    QCOMPARE(log_length(QByteArray("\x01\x02\x03\x04", 4)), 0x04030201u);
    QCOMPARE(log_length(QByteArray("\xff\xff\xff\xff", 4)), 0xffffffffu);

    QVERIFY(is_complete_version_reply("c2.0.7"));
    QVERIFY(is_complete_version_reply("xxc2.0.7"));
    QVERIFY(!is_complete_version_reply("2.0.7"));
    QVERIFY(!is_complete_version_reply("c2.0.07"));
    QVERIFY(!is_complete_version_reply("c.2.0.7"));
}

void test_device::frames_on_the_wire()
{
    sensor_config config;
    config.silent = true;
    simulated_sensor sensor(config);
    QVERIFY(sensor.is_listening());
    tcp_device device;
    QVERIFY(connect_to(device, sensor));

    const QString long_name = "a_rather_long_firmware_image_name_for_the_lidar.bin";
    QCOMPARE(device.send_cmd_shutdown(), 0);
    QCOMPARE(device.send_cmd_readlog(), 0);
    QCOMPARE(device.send_cmd_reset(), 0);
    QCOMPARE(device.send_cmd_getChipInfo(), 0);
    QCOMPARE(device.send_cmd_download("app.bin", 1, 4096), 0);
    QCOMPARE(device.send_cmd_download("my image.bin", 0, -5), 0);
    const QList<QByteArray> expected = {padded("shutdown"),
                                        padded("readlog"),
                                        padded("reset"),
                                        padded("getChipInfo"),
                                        padded("download app.bin 1 4096"),
                                        padded("download my image.bin 0 -5")};
    QVERIFY(sensor.wait_for_frames(expected.size()));
    QCOMPARE(sensor.frames(), expected);

    // A text of 50 bytes (the second name) or more goes whole, without padding; the silent
    // sensor takes it as one frame because nothing follows it.
    for (const QString &name : {long_name, long_name.left(34)}) {
        const int frames = sensor.frames().size();
        QCOMPARE(device.send_cmd_download(name, 16, 123), 0);
        QVERIFY(sensor.wait_for_frames(frames + 1));
        QCOMPARE(sensor.frames().last(), "download " + name.toUtf8() + " 16 123");
    }
}

void test_device::acknowledgements_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("result");
    // The sensor's refusals and silences are the window's fault matrix; here the size check.
    const int normal = int(ack_mode::normal);
    QTest::newRow("digits 0000") << QByteArray("0000") << normal << 0;
    QTest::newRow("three bytes") << QByteArray("000") << normal << 1;
    QTest::newRow("five bytes") << QByteArray("00000") << normal << 1;
    // The wait ends after the first half; the second must never be read as the next answer.
    QTest::newRow("split in two") << QByteArray("0000") << int(ack_mode::split) << 1;
}

void test_device::acknowledgements()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, mode);
    QFETCH(int, result);
    sensor_config config;
    config.ack_text = reply;
    config.download_ack = ack_mode(mode);
    simulated_sensor sensor(config);
    tcp_device device;
    QVERIFY(connect_to(device, sensor));
    QCOMPARE(device.send_cmd_download("app.bin", 0, 16), 0);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(device.recv_ack(4, 0), result);
    QVERIFY(timer.elapsed() < 5000);

    // A failed check leaves the link out of step: it is closed, its unread bytes dropped.
    QCOMPARE(device.state() == QAbstractSocket::ConnectedState, result == 0);
    QCOMPARE(device.bytesAvailable(), qint64(0));
}

void test_device::version_reply_collected_and_bounded()
{
    // The log reply to "readlog" (length 6, then c2.0.7) is a complete version
    // reply too; its header arrives in two pieces, so both must be collected.
    sensor_config config;
    config.log = "c2.0.7";
    config.split_log_header = true;
    simulated_sensor sensor(config);
    tcp_device device;
    QVERIFY(connect_to(device, sensor));
    QCOMPARE(device.send_cmd_readlog(), 0);
    QCOMPARE(device.send_cmd_version(), QByteArray("\x06\0\0\0c2.0.7", 10));
    QCOMPARE(sensor.frames().last(), padded("version"));

    // A silent sensor: the query gives up after its deadline, with a null reply.
    sensor_config quiet;
    quiet.silent = true;
    sensor.set_config(quiet);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(device.send_cmd_version().isNull());
    QVERIFY2(timer.elapsed() < 12000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(device.state(), QAbstractSocket::UnconnectedState);
}

// However the time left falls between the wait's looks, the wait ends at its deadline: a thousand
// waits of no time on a sensor that answers no connection each end at once.
void test_device::connect_wait_ends_at_its_deadline()
{
    sensor_config config;
    config.full_backlog = true;
    simulated_sensor sensor(config);
    QVERIFY(sensor.is_listening());
    // A token that may fire: the wait is taken in slices.
    const std::atomic<bool> never{false};
    QTcpSocket socket;
    int overran = 0;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [&] {
        ++overran;
        socket.abort();
    });
    for (int i = 0; i < 1000 && !overran; ++i) {
        socket.connectToHost(QHostAddress::LocalHost, sensor.port());
        watchdog.start(1000);
        QVERIFY(!wait_for(socket, link_event::connected, 0, stop_token(never)));
        watchdog.stop();
        socket.abort();
    }
    QCOMPARE(overran, 0);
}

QTEST_MAIN(test_device)
#include "test_device.moc"
