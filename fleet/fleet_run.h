#ifndef FLEET_RUN_H
#define FLEET_RUN_H

#include <QVector>

#include "device/stop_token.h"
#include "fleet/fleet_observer.h"
#include "upgrade/sensor_run.h"

// When sensors may start and stream.
struct fleet_rules {
    int jobs = 8;         // images streaming at once
    int links = 8;        // links open at once, at least jobs
    int canary = 0;       // the first sensors that must be upgraded before the rest start
    int max_failures = 0; // 0: no limit
    qint64 max_rate = 0;  // image bytes a second of the whole run together; 0: no cap
};

// What stops a run: dialling, once no further sensor may be dialled (the sensors not yet dialled
// are interrupted); links, once the running sensors stop, in every wait and mid-image, their
// links reset, and are interrupted.
struct fleet_stops {
    stop_token dialling;
    stop_token links;
};

// Upgrades the sensors in order, each on a link of its own: up to rules.links open (connect, log
// and version check, as events on a few threads) while at most rules.jobs images stream, each on
// a thread of its own; the hang-up and the wait for a restarted sensor hold no streaming slot. A
// sensor streams in its turn, so the stop rules see the sensors before it ended or streaming. Every
// sensor's record goes to the observer as it ends; returns them all, in that order.
QVector<sensor_record> upgrade_sensors(const QVector<sensor_task> &tasks, const fleet_rules &rules,
                                       const fleet_stops &stops, fleet_observer &observer);

// Reads the version of every sensor, up to jobs links open at a time (as events on a few
// threads), and says what the task's package would
// do with it (without a package: found or unreachable); sends nothing but the log request. Every
// sensor's record goes to the observer as it ends; returns them all, in that order.
QVector<sensor_record> check_sensors(const QVector<sensor_task> &tasks, int jobs,
                                     const fleet_stops &stops, fleet_observer &observer);

#endif
