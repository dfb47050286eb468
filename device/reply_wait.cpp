#include "device/reply_wait.h"

#include "device/link_wait.h"

bool read_more(QAbstractSocket &socket, QByteArray &buffer, const QElapsedTimer &reply_clock)
{
    const bool link_gone = socket.state() != QAbstractSocket::ConnectedState;
    if ((link_gone && socket.bytesAvailable() == 0) || reply_clock.hasExpired(reply_deadline_ms) ||
        waits_stopped())
        return false;
    wait_for(socket, link_event::ready_read,
             int(qMin<qint64>(reply_wait_ms, reply_deadline_ms - reply_clock.elapsed())));
    buffer += socket.readAll();
    return true;
}
