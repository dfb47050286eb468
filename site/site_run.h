#ifndef SITE_RUN_H
#define SITE_RUN_H

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QVector>
#include <atomic>
#include <memory>

#include "fleet/fleet_observer.h"
#include "fleet/fleet_record.h"
#include "fleet/fleet_run.h"

class QThread;

// What the engine told since the window last looked: each sensor's latest progress only, so a
// row changes at most as often as the window looks, however fast the engine's threads report.
struct site_events {
    QHash<QString, image_progress> progress;
    QVector<sensor_record> finished; // in the order of the run's records
    fleet_activity activity;
    QStringList lost_lines; // record lines that could not be written
};

// Collects the engine's events under a lock, from whichever thread tells them, and writes each
// sensor's record line as it ends.
class site_observer : public fleet_observer
{
public:
    explicit site_observer(record_writer &record) : record(record) {}
    void sensor_line(const QString &address, const QString &text) override;
    void sensor_progress(const QString &address, const image_progress &progress) override;
    void sensor_finished(const sensor_record &record) override;
    void running(const fleet_activity &activity) override;
    // The events since the last call.
    site_events take();

private:
    QMutex mutex;
    site_events pending;
    record_writer &record;
};

// One check or upgrade of the site window, run by the fleet's engine on a thread of its own; the
// window takes its events and hears finished() once every sensor has its record line.
class site_run : public QObject
{
    Q_OBJECT

public:
    // The record lines go to record_path, each saying this of the package.
    site_run(const QString &record_path, const package_stamp &stamp);
    ~site_run() override;
    // Opens the record: the failure's line when it cannot be written, else empty.
    QString open_record();
    void check(const QVector<sensor_task> &tasks, int jobs);
    void upgrade(const QVector<sensor_task> &tasks, int jobs);
    // The first stop dials no new sensor (the streaming ones finish); the second stops them all.
    void stop();
    void stop_now();
    int stops_asked() const { return int(dialling) + int(links); }
    site_events take() { return observer.take(); }

signals:
    void finished();

private:
    void start(const std::function<void()> &work);

    QString record_path;
    record_writer record;
    site_observer observer;
    std::atomic<bool> dialling{false};
    std::atomic<bool> links{false};
    fleet_stops stops;
    QVector<sensor_task> tasks;
    std::unique_ptr<QThread> thread;
};

#endif
