#include <QElapsedTimer>
#include <QHostAddress>
#include <QtTest>

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

class test_tcp_device : public QObject
{
    Q_OBJECT

private slots:
    void frames_on_the_wire();
    void acknowledgements_data();
    void acknowledgements();
    void version_reply_collected_and_bounded();
};

void test_tcp_device::frames_on_the_wire()
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

void test_tcp_device::acknowledgements_data()
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

void test_tcp_device::acknowledgements()
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

void test_tcp_device::version_reply_collected_and_bounded()
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

QTEST_MAIN(test_tcp_device)
#include "test_tcp_device.moc"
