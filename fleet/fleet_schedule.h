#ifndef FLEET_SCHEDULE_H
#define FLEET_SCHEDULE_H

#include <QVector>

#include "upgrade/sensor_run.h"

class fleet_report;

// What stops a run: dialling, once no further sensor may be dialled; links, once the running
// sensors stop, in every wait and mid-image, their links reset.
struct fleet_stops {
    stop_token dialling;
    stop_token links;
};

// When sensors may start and stream.
struct fleet_rules {
    int jobs = 8;         // images streaming at once
    int links = 8;        // links open at once, at least jobs
    int canary = 0;       // the first sensors that must be upgraded before the rest start
    int max_failures = 0; // 0: no limit
};

// Upgrades the sensors in order, each on a thread and link of its own: up to links open
// (connect, log and version check) while at most jobs images stream;
// the hang-up and the wait for a restarted sensor hold no streaming slot. Every sensor's record
// goes to report as it ends. Once stops.dialling fires no further sensor starts; once stops.links
// fires the running ones stop.
void run_fleet_schedule(const QVector<sensor_task> &tasks, const fleet_rules &rules,
                        const fleet_stops &stops, fleet_report &report);

#endif
