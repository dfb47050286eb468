#include "device/sensor_connect.h"

#include <QHostAddress>
#include <QtDebug>

#include "device/descriptor_limit.h"
#include "device/device_result.h"
#include "device/link_wait.h"
#include "device/replies.h"
#include "device/reply_wait.h"
#include "device/tcp_device.h"

namespace
{

const quint16 sensor_port = 50661;
const int connect_wait_ms = 3000;
const int log_header_size = 4;
// No sensor log comes near this; a larger length is a broken reply, not waited for.
const quint32 max_log_size = 64u << 20;

const char *const address_message =
    "error: invalid IP address.\r\nnote:\r\n1) IP should contain four decimal numbers seprated "
    "by '.'\r\n2) every decimal number should stand at [0, 255]";

// The time a wait of ms may take without passing the deadline.
int within(const QDeadlineTimer &deadline, int ms)
{
    const qint64 left = deadline.remainingTime();
    return int(left < 0 ? ms : qMin<qint64>(ms, left));
}

// Reads the log reply and finds the version in it; empty when there is none.
QString version_in_log(QAbstractSocket &device, const QDeadlineTimer &deadline,
                       const stop_token &stop)
{
    const QDeadlineTimer reply_deadline =
        qMin(QDeadlineTimer(reply_deadline_ms, Qt::PreciseTimer), deadline);
    QByteArray buffer;
    while (buffer.size() < log_header_size) {
        if (!read_more(device, buffer, reply_deadline, stop)) {
            qDebug() << "no log header" << buffer.size();
            return {};
        }
    }
    const quint32 length = log_length(buffer);
    if (length > max_log_size) {
        qDebug() << "log length" << length << "refused";
        return {};
    }
    buffer.remove(0, log_header_size);
    // One more read even when the payload is already there.
    do {
        if (!read_more(device, buffer, reply_deadline, stop))
            break;
    } while (static_cast<quint32>(buffer.size()) < length);
    // A log cut short by a silent or lost sensor is no answer.
    if (static_cast<quint32>(buffer.size()) < length) {
        qDebug() << "log incomplete" << buffer.size() << "of" << length;
        return {};
    }

    const QString version = find_lidar_version(buffer);
    if (version.isEmpty()) {
        qDebug() << "not found version";
        return {};
    }
    qDebug() << "log size" << buffer.size() << "version at"
             << buffer.lastIndexOf(version.toLatin1()) << version;
    return version;
}

// Whether nothing answered a connection that failed after waiting waited_ms of wait_ms: it was
// refused, reset or unreachable, or had no answer for the whole connect wait.
bool unanswered(const QAbstractSocket &device, qint64 waited_ms, int wait_ms,
                const stop_token &stop)
{
    switch (device.error()) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::NetworkError:
        return true;
    default:
        return wait_ms == connect_wait_ms && waited_ms >= wait_ms && !stop.stop_requested();
    }
}

// What the operator is told when no connection to the address could be made.
QString connect_failure_message(const QString &address)
{
    return "error: connect DAE failed with IP " + address + "!";
}

// Dials the address: ok once the link is up.
outcome dial_sensor(tcp_device &device, const QString &address, const QDeadlineTimer &deadline,
                    const stop_token &stop)
{
    if (!is_valid_ipv4_text(address))
        return outcome(outcome_kind::failed, address_message);
    if (is_connected_to(device, address))
        return outcome(outcome_kind::failed, "Lidar is already connected, don't repeat");
    // Another address while connected: that sensor is dialled instead, as by a first press.
    device.abort();
    device.connectToHost(QHostAddress(ipv4_of(address)).toString(), sensor_port,
                         QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    QElapsedTimer clock;
    clock.start();
    const int wait_ms = within(deadline, connect_wait_ms);
    if (wait_for(device, link_event::connected, wait_ms, stop))
        return {};
    const bool nothing_answered = unanswered(device, clock.elapsed(), wait_ms, stop);
    device.close();
    if (device.error() == QAbstractSocket::SocketResourceError && out_of_descriptors())
        return outcome(outcome_kind::out_of_descriptors,
                       descriptor_shortage("a socket for IP " + address));
    return outcome(nothing_answered ? outcome_kind::unanswered : outcome_kind::failed,
                   connect_failure_message(address));
}

// Asks the connected sensor for its log and reads the version in it.
connection query_lidar_version(tcp_device &device, const QDeadlineTimer &deadline,
                               const stop_token &stop)
{
    const outcome sent = device_outcome(device.send_cmd_readlog(), "error: command send failed!");
    const QString version = sent.is_ok() ? version_in_log(device, deadline, stop) : QString();
    const bool closed = device.state() != QAbstractSocket::ConnectedState &&
                        device.error() == QAbstractSocket::RemoteHostClosedError;
    // Whatever went wrong may leave log bytes unread: the next connect dials anew instead.
    if (version.isEmpty())
        device.abort();
    outcome how(closed              ? outcome_kind::closed_by_sensor
                : version.isEmpty() ? outcome_kind::no_version
                                    : outcome_kind::ok);
    how.messages = sent.messages;
    if (version.isEmpty())
        how.messages << "error: get Lidar version fail";
    return {how, version};
}

} // namespace

bool is_connected_to(const QAbstractSocket &device, const QString &address)
{
    return device.state() == QAbstractSocket::ConnectedState &&
           device.peerAddress().toIPv4Address() == ipv4_of(address);
}

outcome same_sensor(const QAbstractSocket &device, const QString &address)
{
    if (device.state() != QAbstractSocket::ConnectedState || is_connected_to(device, address))
        return {};
    return outcome(outcome_kind::failed, "error: the connected sensor is " +
                                             device.peerAddress().toString() + ", not " + address +
                                             ": press connect");
}

QString invalid_address_message()
{
    return address_message;
}

bool opened_link(const outcome &how)
{
    return how.kind == outcome_kind::ok || how.kind == outcome_kind::no_version ||
           how.kind == outcome_kind::closed_by_sensor;
}

connection connect_sensor(tcp_device &device, const QString &address,
                          const QDeadlineTimer &deadline, const stop_token &stop)
{
    const outcome dialled = dial_sensor(device, address, deadline, stop);
    if (!dialled.is_ok())
        return {dialled, {}};
    return query_lidar_version(device, deadline, stop);
}
