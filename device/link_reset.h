#ifndef LINK_RESET_H
#define LINK_RESET_H

#include <QAbstractSocket>

// Ends the link at once with a reset: what the system still held queued for the sensor is
// dropped instead of sent, so nothing more reaches the sensor once the tool has given up.
void reset_link(QAbstractSocket &socket);

#endif
