// Upgrades one image to the simulated sensor (run as its own process, so this process is the
// tool alone) and, in the same run, copies the same bytes over a bare socket to the same
// sensor with the same two acknowledgements. Prints both times, their ratio, the tool's peak
// memory growth during the upgrade and the window's longest pause between two repaints.
//     bench_upgrade [IMAGE_MIB]      (default 16; run it on a shaped link: bench_link.sh)
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/dialog.h"
#include "message_catcher.h"
#include "package_maker.h"

namespace
{

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

QByteArray image_of(int size)
{
    QByteArray image(size, '\0');
    quint32 state = 7;
    for (char &c : image) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 16);
    }
    return image;
}

bool wait_ack(QTcpSocket &socket)
{
    QByteArray reply;
    while (reply.size() < 4 && socket.waitForReadyRead(30000))
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

// The longest time between two repaints of the window while it lives; asks for one every
// 20 ms.
class repaint_clock : public QObject
{
public:
    explicit repaint_clock(QWidget *window) : window(window)
    {
        window->installEventFilter(this);
        clock.start();
        connect(&ask, &QTimer::timeout, window, [window] { window->update(); });
        ask.start(20);
    }
    qint64 longest_pause_ms() const { return longest; }

protected:
    bool eventFilter(QObject *target, QEvent *event) override
    {
        if (target == window && event->type() == QEvent::Paint) {
            longest = qMax(longest, clock.restart());
        }
        return false;
    }

private:
    QWidget *window;
    QElapsedTimer clock;
    QTimer ask;
    qint64 longest = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int image_size = (argc > 1 ? QByteArray(argv[1]).toInt() : 16) << 20;
    QTemporaryDir workdir;
    QDir::setCurrent(workdir.path());
    QString error;
    if (!make_package("pkg",
                      {{{"image.bin", 1, image_of(image_size)}}, "c2.0.8", "{c2.0.7,c2.0.8};"},
                      "config", false, &error)) {
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
    qint64 longest_pause_ms = 0;
    long peak_growth_kb = 0;
    {
        Dialog dialog;
        dialog.show();
        dialog.findChild<QLineEdit *>("lineEdit_ip")->setText("127.0.0.1");
        dialog.findChild<QPushButton *>("pushButton_connect")->click();
        dialog.findChild<QLineEdit *>("lineEdit_input_directry")->setText(workdir.filePath("pkg"));
        QCoreApplication::processEvents();
        reset_peak();
        const long before = peak_kb();
        repaint_clock repaints(&dialog);
        QElapsedTimer timer;
        timer.start();
        dialog.findChild<QPushButton *>("pushButton_startupgrade")->click();
        upgrade_ms = timer.elapsed();
        peak_growth_kb = peak_kb() - before;
        longest_pause_ms = repaints.longest_pause_ms();
    }
    const qint64 raw_ms = raw_copy_ms(image_of(image_size));
    sensor.kill();
    sensor.waitForFinished();
    if (!catcher.texts.isEmpty() || raw_ms <= 0) {
        fprintf(stderr, "run failed: %s\n", qPrintable(catcher.texts.join(" / ")));
        return 1;
    }
    printf("image                    %8d MiB\n", image_size >> 20);
    printf("upgrade (decrypt+send)   %8lld ms\n", static_cast<long long>(upgrade_ms));
    printf("raw copy, same link      %8lld ms\n", static_cast<long long>(raw_ms));
    printf("ratio upgrade/raw        %8.3f\n", double(upgrade_ms) / double(raw_ms));
    printf("peak memory growth       %8ld kB\n", peak_growth_kb);
    printf("longest repaint pause    %8lld ms\n", static_cast<long long>(longest_pause_ms));
    return 0;
}
