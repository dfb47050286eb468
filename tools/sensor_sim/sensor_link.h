#ifndef SENSOR_LINK_H
#define SENSOR_LINK_H

#include <QByteArray>

class QObject;
class QTcpSocket;
class simulated_sensor;

// A frame's text: up to its first zero byte.
QByteArray frame_text(const QByteArray &frame);

// Serves one accepted connection as the sensor would, with the faults of the config in force,
// until it closes; the socket becomes the link's, and the link parent's.
void serve_connection(QTcpSocket *socket, simulated_sensor &owner, QObject *parent);

#endif
