#ifndef CONSOLE_REPORT_H
#define CONSOLE_REPORT_H

#include <QMutex>

#include "fleet/fleet_observer.h"
#include "fleet/fleet_record.h"

// The fleet mode's console, on standard error: each sensor's lines prefixed with its address,
// its progress and its result; a record line that could not be written; and what the
// operator's interrupts stop. The record takes each sensor's line as it ends.
class console_report : public fleet_observer
{
public:
    explicit console_report(record_writer &record) : record(record) {}
    void sensor_line(const QString &address, const QString &text) override;
    void sensor_progress(const QString &address, const image_progress &progress) override;
    void sensor_finished(const sensor_record &record) override;
    void running(const fleet_activity &activity) override;

private:
    void line(const QString &text);

    QMutex mutex;
    record_writer &record;
    int interrupts_told = 0;
};

#endif
