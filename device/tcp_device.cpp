#include "device/tcp_device.h"

#include <QtDebug>

#include "device/link_wait.h"
#include "device/replies.h"
#include "device/reply_wait.h"

namespace
{

// The command word is the last "_" piece of the operation's own name.
QByteArray command_word(const char *operation)
{
    return QByteArray(operation).split('_').last();
}

QByteArray frame_of(const QByteArray &text)
{
    QByteArray frame = text;
    if (frame.size() < command_frame_size)
        frame.append(command_frame_size - frame.size(), '\0');
    return frame;
}

// What follows the word of the "download" command: the file name, the format and the length.
QByteArray download_arguments(const QString &file_name, int format, int data_size)
{
    return ' ' + file_name.toUtf8() + ' ' + QByteArray::number(format) + ' ' +
           QByteArray::number(data_size);
}

bool is_connected(const QAbstractSocket &socket)
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

// The one way a command leaves: framed, then handed to the socket in one write.
int send_frame(QAbstractSocket &socket, const QByteArray &text)
{
    const QByteArray frame = frame_of(text);
    if (!is_connected(socket))
        return 2;
    return socket.write(frame) == frame.size() ? 0 : 1;
}

} // namespace

QByteArray tcp_device::send_cmd_version()
{
    if (send_frame(*this, command_word(__func__)) == 2)
        return {};
    const QDeadlineTimer deadline(reply_deadline_ms, Qt::PreciseTimer);
    QByteArray reply;
    while (!is_complete_version_reply(reply))
        if (!read_more(*this, reply, deadline)) {
            abort();
            return {};
        }
    return reply;
}

int tcp_device::send_cmd_getChipInfo()
{
    return send_frame(*this, command_word(__func__));
}
int tcp_device::send_cmd_readlog()
{
    return send_frame(*this, command_word(__func__));
}
int tcp_device::send_cmd_reset()
{
    return send_frame(*this, command_word(__func__));
}
int tcp_device::send_cmd_shutdown()
{
    return send_frame(*this, command_word(__func__));
}

int tcp_device::send_cmd_download(const QString &file_name, int format, int data_size)
{
    return send_frame(*this,
                      command_word(__func__) + download_arguments(file_name, format, data_size));
}

int download_text_size(const QString &file_name, int format, int data_size)
{
    return QByteArray("download").size() + download_arguments(file_name, format, data_size).size();
}

int tcp_device::recv_ack(int expected_size, int expected_value)
{
    return recv_ack(expected_size, expected_value, stop_token());
}

int tcp_device::recv_ack(int expected_size, int expected_value, const stop_token &stop)
{
    if (!is_connected(*this))
        return 2;
    // The reply may already be in: the event loop reads while an image drains.
    if (bytesAvailable() == 0)
        wait_for(*this, link_event::ready_read, reply_wait_ms, stop);
    const QByteArray reply = readAll();
    const int value = ack_value(reply);
    if (value == expected_value && reply.size() == expected_size)
        return 0;
    qDebug() << "ack" << value << "size" << reply.size();
    abort();
    return 1;
}

int tcp_device::recv_data(int expected_size, QByteArray &data)
{
    if (!is_connected(*this))
        return 2;
    wait_for(*this, link_event::ready_read, reply_wait_ms);
    data = readAll();
    if (data.size() == expected_size)
        return 0;
    qDebug() << "data" << data.toHex() << data.size();
    abort();
    return 1;
}
