// One connection of the simulated sensor: the protocol and its injected faults.
#include "sensor_link.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <limits>

#include "simulated_sensor.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace
{

const int frame_size = 50;
const int split_pause_ms = 400;
const int late_ack_ms = 3500;
// Receive buffers of a throttled link hold about a tenth of a second of its rate, as a small
// device's would, within these bounds; and how often it reads.
const int min_throttled_buffer = 4 * 1024;
const int max_throttled_buffer = 16 * 1024;
const int throttle_tick_ms = 5;

bool throttles(const sensor_config &config)
{
    return config.image_read_rate > 0 || config.stall_after_image_bytes >= 0;
}

int receive_buffer(const sensor_config &config)
{
    return config.image_read_rate > 0
               ? int(qBound<qint64>(min_throttled_buffer, config.image_read_rate / 10,
                                    max_throttled_buffer))
               : max_throttled_buffer;
}

// Bytes that arrived on the socket that no read has taken yet.
qint64 bytes_waiting_in_system(qintptr descriptor)
{
    if (descriptor < 0)
        return 0;
#ifdef Q_OS_WIN
    u_long waiting = 0;
    return ioctlsocket(SOCKET(descriptor), FIONREAD, &waiting) == 0 ? qint64(waiting) : 0;
#else
    int waiting = 0;
    return ioctl(int(descriptor), FIONREAD, &waiting) == 0 ? waiting : 0;
#endif
}

} // namespace

void size_receive_buffers(qintptr listener, const sensor_config &config)
{
    if (!throttles(config))
        return;
    const int size = receive_buffer(config);
#ifdef Q_OS_WIN
    setsockopt(SOCKET(listener), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&size),
               sizeof size);
#else
    setsockopt(int(listener), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
#endif
}

QByteArray frame_text(const QByteArray &frame)
{
    const int end = frame.indexOf('\0');
    return end < 0 ? frame : frame.left(end);
}

// One connection: splits the byte stream into frames and images, answers.
class sensor_link : public QObject
{
public:
    sensor_link(QTcpSocket *socket, simulated_sensor &owner, QObject *parent)
        : QObject(parent), socket(socket), owner(owner), config(owner.config())
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] { take(); });
        if (config.idle_close_ms >= 0) {
            auto *idle = new QTimer(this);
            idle->setSingleShot(true);
            connect(idle, &QTimer::timeout, socket, &QTcpSocket::disconnectFromHost);
            connect(socket, &QTcpSocket::readyRead, idle, [idle] { idle->start(); });
            idle->start(config.idle_close_ms);
        }
        // An image cut short by either side is recorded as far as it came.
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            count_late_bytes();
            end_image();
            deleteLater();
        });
        if (throttles(config))
            throttle();
    }

private:
    void throttle()
    {
        const int buffer = receive_buffer(config);
        socket->setReadBufferSize(buffer);
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, buffer);
        auto *tick = new QTimer(this);
        connect(tick, &QTimer::timeout, this, [this] { take(); });
        tick->start(throttle_tick_ms);
    }

    // How many bytes may be read now: all there are, but for the image on a throttled link.
    qint64 allowance() const
    {
        if (!image_active || (config.image_read_rate <= 0 && config.stall_after_image_bytes < 0))
            return socket->bytesAvailable();
        qint64 budget = config.image_read_rate > 0
                            ? config.image_read_rate * image_clock.elapsed() / 1000
                            : std::numeric_limits<qint64>::max();
        if (faulty && config.stall_after_image_bytes >= 0)
            budget = qMin(budget, config.stall_after_image_bytes);
        const qint64 due = budget - image.data.size() - pending.size();
        return qBound<qint64>(0, due, socket->bytesAvailable());
    }

    // Every byte that reached this end of the link: read, or waiting in Qt's or the system's
    // buffer.
    qint64 arrived() const
    {
        return read_total + socket->bytesAvailable() +
               bytes_waiting_in_system(socket->socketDescriptor());
    }

    // Counts what arrived since the test said the tool gave up.
    void count_late_bytes()
    {
        most_arrived = qMax(most_arrived, arrived());
        if (!owner.tool_gone())
            return;
        if (arrived_when_gone < 0)
            arrived_when_gone = most_arrived;
        owner.record_late_bytes(most_arrived - arrived_when_gone - late_counted);
        late_counted = most_arrived - arrived_when_gone;
    }

    void take()
    {
        count_late_bytes();
        const QByteArray bytes = socket->read(allowance());
        read_total += bytes.size();
        pending += bytes;
        while (!pending.isEmpty() && socket->state() == QAbstractSocket::ConnectedState)
            if (!(image_left > 0 || image_active ? take_image() : take_frame()))
                break;
    }

    bool take_frame()
    {
        if (pending.size() < frame_size)
            return false;
        const bool padded = pending.left(frame_size).contains('\0');
        const QByteArray frame = padded ? pending.left(frame_size) : pending;
        pending.remove(0, frame.size());
        owner.record_frame(frame);
        config = owner.config();
        if (!config.silent)
            answer(frame_text(frame));
        return true;
    }

    void answer(const QByteArray &text)
    {
        const QList<QByteArray> fields = text.split(' ');
        if (text == "readlog")
            send_log();
        else if (fields.first() == "download" && fields.size() >= 4)
            start_image(fields);
        else if (text == "shutdown" && config.restart_after_ms >= 0)
            restart();
    }

    void restart() { owner.restart(); }

    void send_log()
    {
        QByteArray header(4, '\0');
        const quint32 length =
            config.announced_log_length ? config.announced_log_length : quint32(config.log.size());
        qToLittleEndian(length, header.data());
        QByteArray body = config.log;
        if (config.drop_during_log)
            body.truncate(body.size() / 2);
        later(config.log_delay_ms, [this, header, body] {
            if (config.split_log_header) {
                socket->write(header.left(2));
                later(split_pause_ms, [this, header, body] { finish_log(header.mid(2) + body); });
            } else {
                finish_log(header + body);
            }
        });
    }

    void finish_log(const QByteArray &bytes)
    {
        socket->write(bytes);
        if (config.drop_during_log) {
            socket->flush();
            socket->disconnectFromHost();
        }
    }

    void start_image(const QList<QByteArray> &fields)
    {
        faulty = downloads++ >= config.fault_from_download;
        if (faulty && config.close_after_download) {
            socket->disconnectFromHost();
            return;
        }
        image = received_image();
        image.name = QString::fromUtf8(fields.mid(1, fields.size() - 3).join(' '));
        image.format = fields.at(fields.size() - 2).toInt();
        image.announced = fields.last().toLongLong();
        if (config.on_download)
            config.on_download(image.name);
        const ack_mode reply = faulty ? config.download_ack : ack_mode::normal;
        acknowledge(reply);
        // A refused download brings no image: the next bytes are a command again.
        if (reply == ack_mode::none || reply == ack_mode::nonzero)
            return;
        image_left = qMax<qint64>(0, image.announced);
        image_active = true;
        image_clock.start();
        // An empty image is acknowledged apart from the download, as two replies;
        // what arrived meanwhile is taken afterwards.
        if (image_left == 0)
            QTimer::singleShot(split_pause_ms, this, [this] {
                finish_image();
                take();
            });
    }

    bool take_image()
    {
        if (image_left == 0)
            return false;
        qint64 size = qMin<qint64>(image_left, pending.size());
        // The link drops exactly at the chosen byte: nothing after it is taken.
        const qint64 drop_at = config.drop_after_image_bytes;
        const bool drops = faulty && drop_at >= 0 && image.data.size() + size >= drop_at;
        if (drops)
            size = drop_at - image.data.size();
        const QByteArray piece = pending.left(int(size));
        pending.remove(0, piece.size());
        image.data += piece;
        if (!piece.isEmpty())
            image.reads << piece.size();
        image_left -= piece.size();
        if (drops) {
            end_image();
            socket->abort();
            return false;
        }
        if (image_left == 0)
            finish_image();
        return true;
    }

    // Records the image once, however it ended; false when it was recorded before.
    bool end_image()
    {
        if (!image_active)
            return false;
        image_active = false;
        owner.record_image(image);
        return true;
    }

    void finish_image()
    {
        if (end_image())
            acknowledge(faulty ? config.image_ack : ack_mode::normal);
    }

    void acknowledge(ack_mode mode)
    {
        switch (mode) {
        case ack_mode::normal:
            socket->write(config.ack_text);
            break;
        case ack_mode::none:
            break;
        case ack_mode::nonzero:
            socket->write("0001");
            break;
        case ack_mode::split: {
            const int half = config.ack_text.size() / 2;
            socket->write(config.ack_text.left(half));
            later(split_pause_ms, [this, half] { socket->write(config.ack_text.mid(half)); });
            break;
        }
        case ack_mode::late:
            later(late_ack_ms, [this] { socket->write(config.ack_text); });
            break;
        }
    }

    template <class F> void later(int ms, F action)
    {
        if (ms <= 0)
            action();
        else
            QTimer::singleShot(ms, this, action);
    }

    QTcpSocket *socket;
    simulated_sensor &owner;
    sensor_config config;
    QByteArray pending;
    received_image image;
    QElapsedTimer image_clock;
    qint64 image_left = 0;
    bool image_active = false;
    int downloads = 0;
    bool faulty = false;
    qint64 read_total = 0;
    qint64 most_arrived = 0;
    qint64 arrived_when_gone = -1;
    qint64 late_counted = 0;
};

void serve_connection(QTcpSocket *socket, simulated_sensor &owner, QObject *parent)
{
    new sensor_link(socket, owner, parent);
}
