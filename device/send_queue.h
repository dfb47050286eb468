#ifndef SEND_QUEUE_H
#define SEND_QUEUE_H

#include <QAbstractSocket>

// Keeps the system's send queue of the link short while an image streams, so that what has
// left the tool is on its way to the sensor rather than waiting behind seconds of a slow link.
void limit_send_queue(QAbstractSocket &socket);

// Bytes the tool has handed to the system that the sensor has not yet taken: 0 once the
// sensor's side acknowledged them all, or when the system cannot tell; -1 once the system
// knows the connection is gone (a reset drops what it still held).
qint64 bytes_not_taken(const QAbstractSocket &socket);

#endif
