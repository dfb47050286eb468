#ifndef RUN_WATCH_H
#define RUN_WATCH_H

#include <QMutex>
#include <QString>
#include <QVector>
#include <functional>

#include "device/serving_sensor.h"
#include "fleet/fleet_observer.h"

// What a fleet run shares among its sensors' threads while it lives: the console lines of a
// thread that serves a sensor (Qt's debug output and the cipher's lines) go to the observer with
// the sensor's address, lines of other threads where they went before; each record is kept and
// told in the order the sensors end.
class run_watch
{
public:
    explicit run_watch(fleet_observer &observer);
    ~run_watch();
    run_watch(const run_watch &) = delete;
    run_watch &operator=(const run_watch &) = delete;

    // A sensor ended.
    void finished(const sensor_record &record);
    // Waits for the sensors to end (ended waits up to the milliseconds given and says whether
    // they have), telling the observer what runs about every 100 ms and once at the end; returns
    // every record.
    QVector<sensor_record> await(const std::function<bool(int)> &ended,
                                 const std::function<fleet_activity()> &now);

    fleet_observer &observer;

private:
    QMutex mutex;
    QVector<sensor_record> records;
};

#endif
