#include "device/link_wait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace
{

const int poll_ms = 100;

bool connecting(const QAbstractSocket &socket)
{
    return socket.state() == QAbstractSocket::HostLookupState ||
           socket.state() == QAbstractSocket::ConnectingState;
}

bool qt_wait(QAbstractSocket &socket, link_event event, int timeout_ms)
{
    switch (event) {
    case link_event::connected:
        return socket.waitForConnected(timeout_ms);
    case link_event::ready_read:
        return socket.waitForReadyRead(timeout_ms);
    case link_event::disconnected:
        break;
    }
    return socket.waitForDisconnected(timeout_ms);
}

// After a wait that ended without the event: whether another may still bring it.
bool may_come(const QAbstractSocket &socket, link_event event)
{
    if (event == link_event::disconnected)
        return socket.state() != QAbstractSocket::UnconnectedState;
    return socket.state() == QAbstractSocket::ConnectedState;
}

// Qt's connect wait abandons the attempt when it times out, so it cannot be taken in slices:
// the thread's event loop runs the attempt instead, between looks at the stop.
bool wait_connected(QAbstractSocket &socket, int timeout_ms, const stop_token &stop)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer look;
    look.setSingleShot(true);
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
    QObject::connect(&look, &QTimer::timeout, &loop, &QEventLoop::quit);
    // The time left is read once a look: read twice, it could pass zero in between, and a timer
    // that refuses a negative interval would leave the loop to the system's own connect timeout.
    for (qint64 left = timeout_ms; connecting(socket) && !stop.stop_requested() && left > 0;
         left = timeout_ms - clock.elapsed()) {
        look.start(int(qMin<qint64>(poll_ms, left)));
        loop.exec();
    }
    if (connecting(socket))
        socket.abort();
    return socket.state() == QAbstractSocket::ConnectedState;
}

} // namespace

bool wait_for(QAbstractSocket &socket, link_event event, int timeout_ms, const stop_token &stop)
{
    if (!stop.may_fire())
        return qt_wait(socket, event, timeout_ms);
    if (event == link_event::connected)
        return wait_connected(socket, timeout_ms, stop);
    QElapsedTimer clock;
    clock.start();
    while (!stop.stop_requested()) {
        const qint64 left = timeout_ms - clock.elapsed();
        if (left <= 0)
            return false;
        if (qt_wait(socket, event, int(qMin<qint64>(poll_ms, left))))
            return true;
        if (!may_come(socket, event))
            return false;
    }
    return false;
}

bool link_still_quiet(QAbstractSocket &socket)
{
    if (socket.state() == QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0)
        socket.waitForReadyRead(0);
    return socket.state() == QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0;
}
