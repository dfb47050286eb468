// Upgrades a 16 MiB image to the simulated sensor (run as its own process, so
// this process is the tool alone) and, in the same run, copies the same bytes
// over a bare loopback socket with the same two acknowledgements. Prints both
// times, their ratio and the tool's peak memory growth during the upgrade.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstdio>

#include "app/dialog.h"
#include "message_catcher.h"
#include "package_maker.h"

namespace {

const int image_size = 16 << 20;

// Peak resident memory in kB since the last reset (Linux; 0 elsewhere).
long peak_kb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

void reset_peak()
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool wait_ack(QTcpSocket &socket)
{
    QByteArray reply;
    while (reply.size() < 4 && socket.waitForReadyRead(3000))
        reply += socket.readAll();
    return reply == "0000";
}

qint64 raw_copy_ms(const QByteArray &image)
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", 50661);
    if (!socket.waitForConnected(3000))
        return -1;
    QByteArray frame = "download raw.bin 0 " + QByteArray::number(image.size());
    frame.append(50 - frame.size(), '\0');
    QElapsedTimer timer;
    timer.start();
    socket.write(frame);
    if (!wait_ack(socket))
        return -1;
    socket.write(image);
    return wait_ack(socket) ? timer.elapsed() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir workdir;
    QDir::setCurrent(workdir.path());
    QByteArray image(image_size, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(image.data()), image_size / 4);
    QString error;
    if (!make_package("pkg", {{{"image.bin", 1, image}}, "c2.0.8", "{c2.0.7,c2.0.8};"}, "config",
                      false, &error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    QProcess sensor;
    sensor.start(SENSOR_SIM_PATH, {"--port", "50661", "--version", "c2.0.7"});
    if (!sensor.waitForReadyRead(10000)) {
        fprintf(stderr, "the simulated sensor did not start\n");
        return 1;
    }

    message_catcher catcher;
    qint64 upgrade_ms = 0;
    long peak_growth_kb = 0;
    {
        Dialog dialog;
        dialog.findChild<QLineEdit *>("lineEdit_ip")->setText("127.0.0.1");
        dialog.findChild<QPushButton *>("pushButton_connect")->click();
        dialog.findChild<QLineEdit *>("lineEdit_input_directry")->setText(workdir.filePath("pkg"));
        reset_peak();
        const long before = peak_kb();
        QElapsedTimer timer;
        timer.start();
        dialog.findChild<QPushButton *>("pushButton_startupgrade")->click();
        upgrade_ms = timer.elapsed();
        peak_growth_kb = peak_kb() - before;
    }
    const qint64 raw_ms = raw_copy_ms(image);
    sensor.kill();
    sensor.waitForFinished();
    if (!catcher.texts.isEmpty() || raw_ms <= 0) {
        fprintf(stderr, "run failed: %s\n", qPrintable(catcher.texts.join(" / ")));
        return 1;
    }
    printf("image                 %8d bytes\n", image_size);
    printf("upgrade (decrypt+send)%8lld ms\n", static_cast<long long>(upgrade_ms));
    printf("raw loopback copy     %8lld ms\n", static_cast<long long>(raw_ms));
    printf("ratio raw/upgrade     %8.2f\n", double(raw_ms) / double(upgrade_ms));
    printf("peak memory growth    %8ld kB (image %d kB)\n", peak_growth_kb, image_size / 1024);
    return 0;
}
