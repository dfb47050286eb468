#include "device/reply_wait.h"

#include "device/link_wait.h"

bool read_more(QAbstractSocket &socket, QByteArray &buffer, const QDeadlineTimer &deadline,
               const stop_token &stop)
{
    const bool link_gone = socket.state() != QAbstractSocket::ConnectedState;
    const qint64 left = deadline.remainingTime();
    if ((link_gone && socket.bytesAvailable() == 0) || left == 0 || stop.stop_requested())
        return false;
    wait_for(socket, link_event::ready_read,
             int(left < 0 ? reply_wait_ms : qMin<qint64>(reply_wait_ms, left)), stop);
    buffer += socket.readAll();
    return true;
}
