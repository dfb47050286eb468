// What the product's tests take from the simulated sensor: frames and images recorded as
// they arrived, a link that drops exactly at the chosen image byte, and sensors that share a port
// on loopback addresses of their own.
#include <QTcpSocket>
#include <QtTest>

#include "simulated_sensor.h"

class test_sensor_sim : public QObject
{
    Q_OBJECT

private slots:
    void records_frames_and_image_up_to_the_drop();
    void sensors_on_other_loopback_addresses_share_a_port();
};

void test_sensor_sim::records_frames_and_image_up_to_the_drop()
{
    sensor_config config;
    config.drop_after_image_bytes = 100;
    simulated_sensor sensor(config);
    QTcpSocket link;
    link.connectToHost("127.0.0.1", sensor.port());
    QVERIFY(link.waitForConnected(3000));
    const QByteArray frame = "download my image.bin 3 1000" + QByteArray(22, '\0');
    link.write(frame);
    QVERIFY(link.waitForReadyRead(3000));
    QCOMPARE(link.readAll(), QByteArray("0000"));
    link.write(QByteArray(1000, 'x'));
    QVERIFY(sensor.wait_for_images(1));

    QCOMPARE(sensor.frames(), QList<QByteArray>({frame}));
    const received_image image = sensor.images().first();
    QCOMPARE(image.name, QString("my image.bin"));
    QCOMPARE(image.format, 3);
    QCOMPARE(image.announced, qint64(1000));
    QCOMPARE(image.data, QByteArray(100, 'x'));
}

void test_sensor_sim::sensors_on_other_loopback_addresses_share_a_port()
{
    simulated_sensor first({}, 0, {}, QHostAddress("127.0.0.2"));
    QVERIFY(first.is_listening());
    simulated_sensor second({}, first.port(), {}, QHostAddress("127.0.0.3"));
    QVERIFY(second.is_listening());
    QCOMPARE(second.address(), QHostAddress("127.0.0.3"));
    QTcpSocket link;
    link.connectToHost("127.0.0.3", first.port());
    QVERIFY(link.waitForConnected(3000));
    QVERIFY(second.wait_until([&] { return second.connections() == 1; }));
    QCOMPARE(first.connections(), 0);
}

QTEST_GUILESS_MAIN(test_sensor_sim)
#include "test_sensor_sim.moc"
