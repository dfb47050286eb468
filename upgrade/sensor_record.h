#ifndef SENSOR_RECORD_H
#define SENSOR_RECORD_H

#include <QDateTime>
#include <QString>
#include <QVector>

#include "device/outcome.h"
#include "upgrade/upgrade_engine.h"

// Whether a sensor was upgraded or only checked.
enum class run_mode { upgrade, check };

// How one sensor's upgrade or check ended.
struct sensor_record {
    QString address;
    QString old_version;
    QString new_version;      // empty: checked against no package
    QString verified_version; // empty: not verified
    run_mode mode = run_mode::upgrade;
    // Only a range named the address and the sensor never answered: where nothing answers the
    // connection there is no sensor.
    bool ranged = false;
    outcome result;
    QVector<sent_file> files;
    QDateTime started;
    double seconds = 0;
};

// What the record and the summary call a sensor's end. An upgrade's: upgraded, skipped (at the
// package's version), failed, interrupted, not_started (held back by a stop rule or a changed
// package). A check's: current (at the package's version), outdated (the package would be
// sent), refused, unreachable, found (checked against no package), interrupted. Either's: empty,
// an address of a range where nothing answered the connection: no sensor.
enum class record_result {
    upgraded,
    skipped,
    failed,
    interrupted,
    current,
    outdated,
    refused,
    unreachable,
    found,
    not_started,
    empty
};

// The one place a record's result comes from: its outcome, its mode and its range.
record_result result_of(const sensor_record &record);

// A result's name in the record and the summary: "upgraded", "not_started", ...
QString result_name(record_result result);

#endif
