#ifndef SENSOR_CONNECT_H
#define SENSOR_CONNECT_H

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include "device/stop_token.h"

class QAbstractSocket;
class tcp_device;

// What the link showed of the sensor when it gave no version, or gave it and then went away.
enum class link_loss {
    none,
    unanswered,       // nothing answered the connection: refused, reset, or no answer in time
    closed_by_sensor, // the link was up; the sensor closed it
};

// How a connect went: whether this call opened the link, and the messages to show, in order.
struct connect_outcome {
    bool connected = false;
    QString version; // empty when the sensor's log named none
    QStringList messages;
    link_loss loss = link_loss::none;
};

// What the operator is told of an address that is not four decimal numbers of 0 to 255.
QString invalid_address_message();

// What the operator is told when no connection to the address could be made.
QString connect_failure_message(const QString &address);

// Whether the link is up to the sensor at this address, read as four decimal numbers.
bool is_connected_to(const QAbstractSocket &device, const QString &address);

// What the operator is told when the link is up to another sensor than the address names;
// empty when it is not.
QString other_sensor_message(const QAbstractSocket &device, const QString &address);

// Checks the address, dials the sensor's port 50661 and asks for its version; a link up to
// another sensor is dropped first. A query that finds none closes the link, so no late log
// byte is read as a later answer. No wait runs past the deadline, nor on once stop fires.
connect_outcome connect_sensor(tcp_device &device, const QString &address,
                               const QDeadlineTimer &deadline = QDeadlineTimer::Forever,
                               const stop_token &stop = {});

#endif
