#include "device/reply_wait.h"

bool read_more(QAbstractSocket &socket, QByteArray &buffer, const QDeadlineTimer &deadline)
{
    const bool link_gone = socket.state() != QAbstractSocket::ConnectedState;
    if ((link_gone && socket.bytesAvailable() == 0) || deadline.hasExpired())
        return false;
    socket.waitForReadyRead(int(qMin<qint64>(reply_wait_ms, deadline.remainingTime())));
    buffer += socket.readAll();
    return true;
}
