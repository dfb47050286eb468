#include "site/site_run.h"

#include <QMutexLocker>
#include <QThread>
#include <QtDebug>

#include "device/descriptor_limit.h"

void site_observer::sensor_line(const QString &address, const QString &text)
{
    for (const QString &line : text.split('\n'))
        qDebug().noquote() << address + ": " + line;
}

void site_observer::sensor_progress(const QString &address, const image_progress &progress)
{
    const QMutexLocker lock(&mutex);
    pending.progress.insert(address, progress);
}

// Called one at a time, so the record's lines come in the run's order.
void site_observer::sensor_finished(const sensor_record &finished)
{
    const QString lost = record.write(finished);
    const QMutexLocker lock(&mutex);
    pending.finished.append(finished);
    pending.progress.remove(finished.address);
    if (!lost.isEmpty())
        pending.lost_lines << lost;
}

void site_observer::running(const fleet_activity &activity)
{
    const QMutexLocker lock(&mutex);
    pending.activity = activity;
}

site_events site_observer::take()
{
    const QMutexLocker lock(&mutex);
    site_events taken = pending;
    pending.progress.clear();
    pending.finished.clear();
    pending.lost_lines.clear();
    return taken;
}

site_run::site_run(const QString &record_path, const package_stamp &stamp)
    : record_path(record_path), record(stamp), observer(record),
      // As in the console: no new sensor once a record line is lost.
      stops{stop_token(dialling, record.lost_line()), stop_token(links)}
{
}

site_run::~site_run()
{
    if (thread) {
        stop_now();
        thread->wait();
    }
}

QString site_run::open_record()
{
    return record.open(record_path);
}

void site_run::check(const QVector<sensor_task> &checked, int jobs)
{
    tasks = checked;
    start([this, jobs] { check_sensors(tasks, jobs, stops, observer); });
}

void site_run::upgrade(const QVector<sensor_task> &upgraded, int jobs)
{
    tasks = upgraded;
    start([this, jobs] {
        const int carried = raise_descriptor_limit();
        upgrade_sensors(tasks, {qMin(jobs, carried), carried, 0, 0}, stops, observer);
    });
}

void site_run::start(const std::function<void()> &work)
{
    thread.reset(QThread::create(work));
    connect(thread.get(), &QThread::finished, this, &site_run::finished);
    thread->start();
}

void site_run::stop()
{
    dialling = true;
}

void site_run::stop_now()
{
    dialling = true;
    links = true;
}
