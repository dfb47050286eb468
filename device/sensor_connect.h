#ifndef SENSOR_CONNECT_H
#define SENSOR_CONNECT_H

#include <QString>
#include <QStringList>

class tcp_device;

// How a connect went: whether this call opened the link, and the messages to show, in order.
struct connect_outcome {
    bool connected = false;
    QString version; // empty when the sensor's log named none
    QStringList messages;
};

// What the operator is told of an address that is not four decimal numbers of 0 to 255.
QString invalid_address_message();

// Checks the address, dials the sensor's port 50661 and asks for its version.
connect_outcome connect_sensor(tcp_device &device, const QString &address);

// Whether the address may be dialled: the failure's message, or empty.
QString dial_sensor(tcp_device &device, const QString &address);

// Asks the connected sensor for its log and finds the version in it; empty, with the messages
// appended, when there is none. The link is closed then, so no late log byte is read as a
// later answer.
QString query_lidar_version(tcp_device &device, QStringList &messages);

#endif
