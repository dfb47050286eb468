#ifndef SENSOR_LINK_H
#define SENSOR_LINK_H

#include <QByteArray>
#include <QtGlobal>

class QObject;
class QTcpSocket;
class simulated_sensor;
struct sensor_config;

// Keeps the receive buffers of connections the listening socket accepts as small as a slow
// device's, when the config throttles: the window the sensor offers from the first byte on is
// what it can hold.
void size_receive_buffers(qintptr listener, const sensor_config &config);

// A frame's text: up to its first zero byte.
QByteArray frame_text(const QByteArray &frame);

// Serves one accepted connection as the sensor would, with the faults of the config in force,
// until it closes; the socket becomes the link's, and the link parent's.
void serve_connection(QTcpSocket *socket, simulated_sensor &owner, QObject *parent);

#endif
