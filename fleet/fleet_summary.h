#ifndef FLEET_SUMMARY_H
#define FLEET_SUMMARY_H

#include <QString>
#include <QVector>

#include "upgrade/sensor_run.h"

// The end-of-run table: address, old and new version, result, seconds, and the MB/s of the
// images over the time they took to stream, a row for each sensor; then a line counting each
// result, and the empty addresses, which are no sensors.
QString summary_table(const QVector<sensor_record> &records);

// "6 sensors: 2 current, 1 outdated, 3 unreachable · 234 empty addresses": a count of each
// result; empty addresses are no sensors.
QString result_counts(const QVector<sensor_record> &records);

// Whether the records prove the run done: there were sensors, and every one was upgraded or
// skipped, or was current or found by a check (empty addresses aside).
bool all_done(const QVector<sensor_record> &records);

#endif
