#ifndef LINK_WAIT_H
#define LINK_WAIT_H

#include <QAbstractSocket>

// What the tool may wait for on a link.
enum class link_event { connected, ready_read, disconnected };

// Makes every wait on every link give up once stop() says so, polling it at least every 100 ms:
// the fleet mode's links stop at the operator's second interrupt. Called once, before any link
// waits; without it each wait is Qt's own, for its full time.
void stop_waits_when(bool (*stop)());

// Whether the waits have been told to stop.
bool waits_stopped();

// Waits up to timeout_ms for the event, as Qt's waitFor functions do; false when it did not
// come in time, the link failed, or the waits were stopped. A connect that does not complete is
// abandoned.
bool wait_for(QAbstractSocket &socket, link_event event, int timeout_ms);

// Whether the link is still up with nothing on it unasked, once what came meanwhile (the
// sensor's close too) has been taken in; waits for nothing.
bool link_still_quiet(QAbstractSocket &socket);

#endif
