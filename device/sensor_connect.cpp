#include "device/sensor_connect.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <QtDebug>

#include "device/descriptor_limit.h"
#include "device/device_result.h"
#include "device/link_threads.h"
#include "device/link_wait.h"
#include "device/log_reply.h"
#include "device/replies.h"
#include "device/reply_wait.h"
#include "device/serving_sensor.h"
#include "device/tcp_device.h"

namespace
{

const quint16 sensor_port = 50661;
const int connect_wait_ms = 3000;
// What the socket holds of a log between two reads of an event-driven probe.
const qint64 log_read_buffer = 64 << 10;

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
    log_reply reply;
    for (QByteArray bytes; reply.wants_more() && read_more(device, bytes, reply_deadline, stop);
         bytes.clear())
        reply.take(bytes);
    return reply.version();
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

// Why the address is not dialled, if it is not.
outcome dial_refusal(const QAbstractSocket &device, const QString &address)
{
    if (!is_valid_ipv4_text(address))
        return outcome(outcome_kind::failed, address_message);
    if (is_connected_to(device, address))
        return outcome(outcome_kind::failed, "Lidar is already connected, don't repeat");
    return {};
}

// Starts the connection; another address while connected is dialled instead, as by a first
// press. Returns the connect wait, within the deadline.
int start_dialling(tcp_device &device, const QString &address, const QDeadlineTimer &deadline)
{
    device.abort();
    device.connectToHost(QHostAddress(ipv4_of(address)).toString(), sensor_port,
                         QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    return within(deadline, connect_wait_ms);
}

// A connection that did not come up after waited_ms of wait_ms: the link is closed.
outcome dial_failure(tcp_device &device, const QString &address, qint64 waited_ms, int wait_ms,
                     const stop_token &stop)
{
    if (device.state() != QAbstractSocket::UnconnectedState)
        device.abort();
    const bool nothing_answered = unanswered(device, waited_ms, wait_ms, stop);
    device.close();
    if (device.error() == QAbstractSocket::SocketResourceError && out_of_descriptors())
        return outcome(outcome_kind::out_of_descriptors,
                       descriptor_shortage("a socket for IP " + address));
    return outcome(nothing_answered ? outcome_kind::unanswered : outcome_kind::failed,
                   connect_failure_message(address));
}

// Dials the address: ok once the link is up.
outcome dial_sensor(tcp_device &device, const QString &address, const QDeadlineTimer &deadline,
                    const stop_token &stop)
{
    const outcome refused = dial_refusal(device, address);
    if (!refused.is_ok())
        return refused;
    QElapsedTimer clock;
    clock.start();
    const int wait_ms = start_dialling(device, address, deadline);
    if (wait_for(device, link_event::connected, wait_ms, stop))
        return {};
    return dial_failure(device, address, clock.elapsed(), wait_ms, stop);
}

outcome send_log_request(tcp_device &device)
{
    return device_outcome(device.send_cmd_readlog(), "error: command send failed!");
}

// What the log request came to: the version, or why there is none. A link without a version is
// closed, since whatever went wrong may leave log bytes unread: the next connect dials anew.
connection query_result(tcp_device &device, const outcome &sent, const QString &version)
{
    const bool closed = device.state() != QAbstractSocket::ConnectedState &&
                        device.error() == QAbstractSocket::RemoteHostClosedError;
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

// Asks the connected sensor for its log and reads the version in it.
connection query_lidar_version(tcp_device &device, const QDeadlineTimer &deadline,
                               const stop_token &stop)
{
    const outcome sent = send_log_request(device);
    return query_result(device, sent,
                        sent.is_ok() ? version_in_log(device, deadline, stop) : QString());
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

// The probe's state between the link's events.
struct version_probe::steps {
    tcp_device &device;
    const QString address;
    const QDeadlineTimer deadline;
    const stop_token stop;
    const done_function done;
    QObject events; // the connections to the link's signals, ended with it
    QTimer wait;    // the current wait's end
    std::unique_ptr<stop_look> look;
    QElapsedTimer clock;
    int wait_ms = 0;
    bool reading = false;
    bool over = false; // the result was given: nothing more happens
    QDeadlineTimer reply_deadline;
    outcome sent;
    log_reply reply;
    QByteArray piece{int(log_read_buffer), Qt::Uninitialized};

    steps(tcp_device &device, const QString &address, const QDeadlineTimer &deadline,
          const stop_token &stop, done_function done)
        : device(device), address(address), deadline(deadline), stop(stop), done(std::move(done))
    {
        wait.setSingleShot(true);
        // A coarse timer may end a wait early, and a connect wait cut short is no verdict.
        wait.setTimerType(Qt::PreciseTimer);
    }

    void start()
    {
        const outcome refused = dial_refusal(device, address);
        if (!refused.is_ok()) {
            end([refused] { return connection{refused, {}}; });
            return;
        }
        // A link left from an earlier attempt ends before the probe listens: its end is no
        // answer to this dial.
        device.abort();
        QObject::connect(&device, &QAbstractSocket::connected, &events, [this] { connected(); });
        QObject::connect(&device, &QAbstractSocket::stateChanged, &events, [this] { changed(); });
        QObject::connect(&device, &QIODevice::readyRead, &events, [this] { wait_ended(); });
        QObject::connect(&wait, &QTimer::timeout, &events, [this] { timed_out(); });
        if (stop.may_fire())
            look.reset(new stop_look([this] { looked(); }));
        clock.start();
        wait_ms = start_dialling(device, address, deadline);
        // The system may refuse at once, inside the dial: the probe has then ended.
        if (over)
            return;
        wait.start(wait_ms);
        changed(); // a connection may fail at once
    }

    void changed()
    {
        if (reading)
            wait_ended();
        else if (device.state() == QAbstractSocket::UnconnectedState)
            dial_failed();
    }

    void timed_out()
    {
        if (reading)
            wait_ended();
        else
            dial_failed();
    }

    void dial_failed()
    {
        end([this] {
            return connection{dial_failure(device, address, clock.elapsed(), wait_ms, stop), {}};
        });
    }

    void log_read()
    {
        end([this] {
            device.setReadBufferSize(0);
            return query_result(device, sent, reply.version());
        });
    }

    void looked()
    {
        if (stop.stop_requested())
            timed_out();
    }

    void connected()
    {
        if (reading)
            return;
        wait.stop();
        reading = true;
        sent = send_log_request(device);
        if (!sent.is_ok()) {
            end([this] { return query_result(device, sent, {}); });
            return;
        }
        // Taken as it comes: the socket holds little of a long log at a time.
        device.setReadBufferSize(log_read_buffer);
        reply_deadline = qMin(QDeadlineTimer(reply_deadline_ms, Qt::PreciseTimer), deadline);
        next_wait();
    }

    // A wait as read_more's: none once the link is gone with nothing left, the deadline has
    // passed, or stop fired.
    void next_wait()
    {
        const bool link_gone = device.state() != QAbstractSocket::ConnectedState;
        const qint64 left = reply_deadline.remainingTime();
        if ((link_gone && device.bytesAvailable() == 0) || left == 0 || stop.stop_requested()) {
            log_read();
            return;
        }
        wait.start(int(left < 0 ? reply_wait_ms : qMin<qint64>(reply_wait_ms, left)));
    }

    void wait_ended()
    {
        if (!reading)
            return;
        wait.stop();
        // Read through one buffer of the probe's own: a long log costs no allocation a piece.
        for (qint64 got; (got = device.read(piece.data(), piece.size())) > 0;)
            reply.feed(piece.constData(), got);
        reply.wait_ended();
        if (reply.wants_more())
            next_wait();
        else
            log_read();
    }

    // The link's events stop reaching the probe before the result is taken: taking it may
    // close the link.
    void end(const std::function<connection()> &result)
    {
        if (over)
            return;
        over = true;
        QObject::disconnect(&device, nullptr, &events, nullptr);
        wait.stop();
        look.reset();
        reading = false;
        const serving_sensor serving(address);
        done(result());
    }
};

version_probe::version_probe(tcp_device &device, const QString &address,
                             const QDeadlineTimer &deadline, const stop_token &stop,
                             done_function done)
    : run(new steps(device, address, deadline, stop, std::move(done)))
{
}

version_probe::~version_probe() = default;

void version_probe::start()
{
    run->start();
}
