#ifndef LINK_WAIT_H
#define LINK_WAIT_H

#include <QAbstractSocket>

#include "device/stop_token.h"

// What the tool may wait for on a link.
enum class link_event { connected, ready_read, disconnected };

// Waits up to timeout_ms for the event, as Qt's waitFor functions do; false when it did not
// come in time, the link failed, or stop fired. A token that may fire is looked at at least
// every 100 ms; with one that never fires the wait is Qt's own, for its full time. A connect
// that does not complete is abandoned.
bool wait_for(QAbstractSocket &socket, link_event event, int timeout_ms,
              const stop_token &stop = {});

// Whether the link is still up with nothing on it unasked, once what came meanwhile (the
// sensor's close too) has been taken in; waits for nothing.
bool link_still_quiet(QAbstractSocket &socket);

#endif
