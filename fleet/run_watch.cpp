#include "fleet/run_watch.h"

#include <QMutexLocker>
#include <atomic>

#include "cipher/crypt_file.h"
#include "device/tcp_device.h"

namespace
{

// How often the wait for a run's end tells what runs.
const int look_ms = 100;

// The run's observer, set while a run_watch lives; the handlers below are plain functions.
std::atomic<fleet_observer *> watching{nullptr};
QtMessageHandler previous_handler = nullptr;
crypt_line_output previous_cipher_output = nullptr;

void sensor_message(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    fleet_observer *observer = watching;
    if (observer && served_sensor())
        observer->sensor_line(*served_sensor(), text);
    else
        previous_handler(type, context, text);
}

void sensor_cipher_line(const char *line)
{
    fleet_observer *observer = watching;
    if (observer && served_sensor())
        observer->sensor_line(*served_sensor(), QString::fromLocal8Bit(line));
    else
        previous_cipher_output(line);
}

} // namespace

run_watch::run_watch(fleet_observer &observer) : observer(observer)
{
    // Qt registers a socket's types when the first one is made; making one here keeps the
    // sensors' threads from racing to do so.
    delete new tcp_device;
    watching = &observer;
    previous_handler = qInstallMessageHandler(sensor_message);
    previous_cipher_output = crypt_set_output(sensor_cipher_line);
}

run_watch::~run_watch()
{
    crypt_set_output(previous_cipher_output);
    qInstallMessageHandler(previous_handler);
    watching = nullptr;
}

void run_watch::finished(const sensor_record &record)
{
    const QMutexLocker lock(&mutex);
    records.append(record);
    observer.sensor_finished(record);
}

QVector<sensor_record> run_watch::await(const std::function<bool(int)> &ended,
                                        const std::function<fleet_activity()> &now)
{
    // The last look after the end: a stop that ended the run is told too.
    for (bool done = false; !done;) {
        done = ended(look_ms);
        observer.running(now());
    }
    const QMutexLocker lock(&mutex);
    return records;
}
