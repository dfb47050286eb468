#ifndef FLEET_OBSERVER_H
#define FLEET_OBSERVER_H

#include <QString>

#include "upgrade/sensor_run.h"

// An image's progress as a sensor streams it.
struct image_progress {
    QString file;       // the package file's bare name
    qint64 taken = 0;   // image bytes the sensor's side has taken
    qint64 total = 0;   // the image's bytes
    double seconds = 0; // since the image started to stream
};

// What still runs while a fleet run waits for its sensors.
struct fleet_activity {
    int streaming = 0; // sensors whose images stream
    int verifying = 0; // sensors awaited after their restart
    int checking = 0;  // checks under way
};

// What a fleet run tells its front end; the engine itself shows nothing. Called from any of the
// engine's threads (the link threads, the streaming threads, the thread that runs the fleet),
// so an implementation guards its state.
class fleet_observer
{
public:
    virtual ~fleet_observer() = default;
    // A console line of a sensor's steps (the window's debug lines and the cipher's), or several
    // with "\n" between.
    virtual void sensor_line(const QString &address, const QString &text) = 0;
    // At most once a second while a sensor's image streams.
    virtual void sensor_progress(const QString &address, const image_progress &progress) = 0;
    // A sensor ended with this record: one call at a time, in the order of the run's records.
    virtual void sensor_finished(const sensor_record &record) = 0;
    // About every 100 ms while the run waits for its sensors, and once after they all ended.
    virtual void running(const fleet_activity &activity) = 0;
};

#endif
