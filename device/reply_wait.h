#ifndef REPLY_WAIT_H
#define REPLY_WAIT_H

#include <QAbstractSocket>
#include <QByteArray>
#include <QDeadlineTimer>

#include "device/stop_token.h"

// One wait for a reply from the sensor.
const int reply_wait_ms = 3000;

// How long a reply that arrives in pieces may take in all: three of the
// sensor's 3000 ms reply rounds. A healthy sensor answers within the first
// round; three rounds still cover TCP's retransmission back-off after a lost
// segment (1 s + 2 s + 4 s), and a silent or trickling sensor gives up within
// 10 s.
const int reply_deadline_ms = 9000;

// One wait of at most 3000 ms, never past the deadline, that appends what arrived to buffer;
// false without waiting once the link is gone (and nothing is left to read), the deadline
// has passed, or stop fired. A reply's deadline is reply_deadline_ms from its start, or earlier.
bool read_more(QAbstractSocket &socket, QByteArray &buffer, const QDeadlineTimer &deadline,
               const stop_token &stop = {});

#endif
