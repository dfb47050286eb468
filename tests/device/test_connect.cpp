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

    // Presses "connect" with the address.
    void press(const QString &address)
    {
        dialog_probe::widget<QLineEdit>(dialog, "lineEdit_ip")->setText(address);
        dialog_probe::widget<QPushButton>(dialog, "pushButton_connect")->click();
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
    // The socket would dial this text; the check refuses it first.
    f.press(" 127.0.0.1");
    QCOMPARE(f.catcher.texts, QStringList({address_message}));
    QCOMPARE(sensor.connections(), 0);
    QCOMPARE(f.shown_version(), QString());

    f.press("127.000.000.001");
    QCOMPARE(f.shown_version(), QString("c2.0.7"));
}

QTEST_MAIN(test_connect)
#include "test_connect.moc"
