// What the product's tests take from the simulated sensor: frames and images recorded as
// they arrived, and a link that drops exactly at the chosen image byte.
#include <QTcpSocket>
#include <QtTest>

#include "simulated_sensor.h"

class test_sensor_sim : public QObject
{
    Q_OBJECT

private slots:
    void records_frames_and_image_up_to_the_drop();
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

QTEST_GUILESS_MAIN(test_sensor_sim)
#include "test_sensor_sim.moc"
