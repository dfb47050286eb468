#ifndef SENSOR_RUN_H
#define SENSOR_RUN_H

#include <QDateTime>
#include <QString>
#include <QVector>

#include "upgrade/upgrade_engine.h"

// What a sensor is given and what it may refuse; a check may have no package version.
struct sensor_task {
    QString address;
    QString package_version;
    QList<QStringList> update_list;
    upgrade_plan plan;
    bool allow_downgrade = false;
    bool reinstall = false;
};

// How one sensor's upgrade or check ended.
struct sensor_record {
    // A check's results follow an upgrade's: current (at the package's version), outdated
    // (the package would be sent), refused, unreachable, or found when there is no package.
    enum result_kind {
        upgraded,
        skipped,
        failed,
        interrupted,
        current,
        outdated,
        refused,
        unreachable,
        found
    };
    QString address;
    QString old_version;
    QString new_version;
    result_kind result = failed;
    QString message;
    QString detail; // what the message is about, when there is more to say
    QVector<sent_file> files;
    QDateTime started;
    double seconds = 0;
};

// The record of a sensor that was never dialled because the run was interrupted.
sensor_record never_dialled(const sensor_task &task);

// Connects to the sensor, reads its version, checks it against the package and sends the plan,
// on a link of its own that is closed when it returns. observer sees the run.
sensor_record upgrade_sensor(const sensor_task &task, upgrade_observer &observer);

// Connects and reads the version as upgrade_sensor does, and says what the package would do;
// sends nothing but the log request, and closes the link.
sensor_record check_sensor(const sensor_task &task);

#endif
