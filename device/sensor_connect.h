#ifndef SENSOR_CONNECT_H
#define SENSOR_CONNECT_H

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "device/outcome.h"
#include "device/stop_token.h"

class QAbstractSocket;
class tcp_device;

// How a connect went, and the version the sensor's log named (empty when none came). The outcome
// is ok with a version and the link up; otherwise it says what the link showed: nothing answered
// the connection, the sensor closed the link (whether its version came or not), no version came,
// or the connect failed; its messages are the window's, in order.
struct connection {
    outcome how;
    QString version;
};

// Whether the connect opened a link: the sensor answered it, whatever its log then said.
bool opened_link(const outcome &how);

// What the operator is told of an address that is not four decimal numbers of 0 to 255.
QString invalid_address_message();

// Whether the link is up to the sensor at this address, read as four decimal numbers.
bool is_connected_to(const QAbstractSocket &device, const QString &address);

// Failed, with what the operator is told, when the link is up to another sensor than the address
// names; ok when it is not.
outcome same_sensor(const QAbstractSocket &device, const QString &address);

// Checks the address, dials the sensor's port 50661 and asks for its version; a link up to
// another sensor is dropped first. A query that finds none closes the link, so no late log
// byte is read as a later answer. No wait runs past the deadline, nor on once stop fires.
connection connect_sensor(tcp_device &device, const QString &address,
                          const QDeadlineTimer &deadline = QDeadlineTimer::Forever,
                          const stop_token &stop = {});

// connect_sensor driven by the link's signals and timers on the thread the link lives on, so that
// a thread serves many links at once: the same steps, texts and waits (the connect wait, each
// reply wait, the log's deadline, the one wait more after a whole log), none past the deadline,
// and stop looked at every 100 ms. The log is scanned as it comes, never kept. Made, started and
// ended on the link's thread; done is called once, there (possibly inside start); the probe may
// be ended once done has returned.
class version_probe
{
public:
    using done_function = std::function<void(const connection &)>;
    version_probe(tcp_device &device, const QString &address, const QDeadlineTimer &deadline,
                  const stop_token &stop, done_function done);
    ~version_probe();
    version_probe(const version_probe &) = delete;
    version_probe &operator=(const version_probe &) = delete;

    void start();

private:
    struct steps;
    const std::unique_ptr<steps> run;
};

#endif
