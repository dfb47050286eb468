#include "fleet/fleet_schedule.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>
#include <memory>

#include "fleet/fleet_report.h"
#include "fleet/interrupts.h"
#include "package/package_file.h"

namespace
{

const qint64 progress_interval_ms = 1000;
// How often a waiting sensor looks at the interrupts.
const unsigned long interrupt_poll_ms = 100;

// Shows one sensor's images as they stream, at most once a second.
class progress_lines : public upgrade_observer
{
public:
    progress_lines(const sensor_task &task, fleet_report &report) : task(task), report(report) {}
    void image_started(int) override
    {
        image_clock.start();
        shown.start();
    }
    void image_progress(int index, qint64 taken, qint64 total) override
    {
        if (shown.elapsed() < progress_interval_ms)
            return;
        shown.restart();
        const double seconds = qMax<qint64>(1, image_clock.elapsed()) / 1000.0;
        report.line(QString("%1: %2 %3 % %4 MB/s")
                        .arg(task.address, bare_name(task.plan.files[index].path))
                        .arg(total > 0 ? 100 * taken / total : 100)
                        .arg(taken / seconds / 1e6, 0, 'f', 2));
    }

private:
    const sensor_task &task;
    fleet_report &report;
    QElapsedTimer image_clock, shown;
};

// Why a sensor does not start: a result and its message.
struct stop_reason {
    bool stops = false;
    sensor_record::result_kind result = sensor_record::not_started;
    QString message;
};

// Sensors take their turn to stream in the order given, so the stop rules see the sensors
// before them ended or streaming. Each waits on a turn of its own, so passing a turn wakes one
// sensor, not all.
class fleet_schedule
{
public:
    fleet_schedule(const fleet_rules &rules, const fleet_stops &stops, int sensors,
                   fleet_report &report)
        : rules(rules), stops(stops), report(report), turns(new QWaitCondition[size_t(sensors)]),
          sensors(sensors)
    {
    }

    void serve(int index, const sensor_task &task)
    {
        const stop_reason stop = reason(task);
        if (stop.stops) {
            pass_turn(index, unstarted_record(task, stop.result, stop.message));
            return;
        }
        QThread::currentThread()->setObjectName(task.address);
        progress_lines progress(task, report);
        sensor_run run(task, stops.links);
        if (run.open()) {
            upgrade(index, task, run, progress);
        } else {
            const sensor_record record = run.finish();
            run.hang_up();
            pass_turn(index, record);
        }
        QThread::currentThread()->setObjectName(QString());
    }

    // After the canaries ended: the rest start only when all of them were upgraded.
    void judge_canaries()
    {
        const QMutexLocker lock(&mutex);
        canary_stop = canaries_good < rules.canary;
    }

    // What an interrupt lets finish: "2 streaming and 1 verifying"; empty when nothing.
    QString finishing()
    {
        const QMutexLocker lock(&mutex);
        QStringList running;
        if (streaming > 0)
            running << QString("%1 streaming").arg(streaming);
        if (verifying > 0)
            running << QString("%1 verifying").arg(verifying);
        return running.join(" and ");
    }

private:
    // Sends on the open link in the sensor's turn, once a slot is free. The wait for a restarted
    // sensor holds no slot; otherwise the slot passes on once the sensor's record is written, so
    // a record that cannot be kept stops the next sensor.
    void upgrade(int index, const sensor_task &task, sensor_run &run, upgrade_observer &progress)
    {
        const bool streams = take_slot(index, task, run);
        if (streams && run.ready())
            run.send(progress);
        const bool verifies = streams && task.verify_seconds > 0;
        if (verifies)
            free_slot(true);
        const sensor_record record = run.finish();
        report.finished(record);
        count(index, record, verifies);
        if (streams && !verifies)
            free_slot(false);
        run.hang_up();
    }

    stop_reason reason(const sensor_task &task)
    {
        const QMutexLocker lock(&mutex);
        return locked_reason(task);
    }

    stop_reason locked_reason(const sensor_task &task) const
    {
        // After an interrupt, or once the record cannot keep what happens, no sensor is dialled.
        if (stops.dialling.stop_requested())
            return {true, sensor_record::interrupted, {}};
        // The package is no longer the one checked: nothing more of it is sent anywhere.
        if (task.plan.change->known())
            return {true, sensor_record::not_started, task.plan.change->message()};
        if (canary_stop)
            return {
                true, sensor_record::not_started,
                QString("the first %1 sensors (--canary) were not all upgraded").arg(rules.canary)};
        if (rules.max_failures > 0 && failures >= rules.max_failures)
            return {true, sensor_record::not_started,
                    QString("%1 sensors failed (--max-failures)").arg(rules.max_failures)};
        return {};
    }

    // Waits for the sensor's turn and a free slot: true once it holds the slot; false when a
    // rule stopped it meanwhile.
    bool take_slot(int index, const sensor_task &task, sensor_run &run)
    {
        QMutexLocker lock(&mutex);
        stop_reason stop;
        while (!(stop = locked_reason(task)).stops &&
               !(next_turn == index && streaming < rules.jobs))
            (next_turn == index ? slot_freed : turns[index]).wait(&mutex, interrupt_poll_ms);
        wait_turn(index);
        if (stop.stops) {
            lock.unlock();
            run.withhold(stop.result, stop.message);
            return false;
        }
        ++streaming;
        return true;
    }

    void free_slot(bool to_verify)
    {
        const QMutexLocker lock(&mutex);
        --streaming;
        verifying += to_verify;
        slot_freed.wakeAll();
    }

    // A sensor that sends nothing: its record now, its result counted in its turn, so that the
    // sensors after it see it whatever the timing.
    void pass_turn(int index, const sensor_record &record)
    {
        report.finished(record);
        QMutexLocker lock(&mutex);
        wait_turn(index);
        count_locked(index, record);
    }

    // Waits for the sensor's turn and passes it on.
    void wait_turn(int index)
    {
        while (next_turn != index)
            turns[index].wait(&mutex, interrupt_poll_ms);
        if (++next_turn < sensors)
            turns[next_turn].wakeAll();
    }

    void count(int index, const sensor_record &record, bool verified)
    {
        const QMutexLocker lock(&mutex);
        verifying -= verified;
        count_locked(index, record);
    }

    void count_locked(int index, const sensor_record &record)
    {
        failures += record.result == sensor_record::failed;
        // A canary already at the package version runs it as surely as one just upgraded.
        canaries_good += index < rules.canary && (record.result == sensor_record::upgraded ||
                                                  record.result == sensor_record::skipped);
        slot_freed.wakeAll();
    }

    const fleet_rules &rules;
    const fleet_stops &stops;
    fleet_report &report;
    QMutex mutex;
    QWaitCondition slot_freed; // or a result counted: for the sensor whose turn it is
    const std::unique_ptr<QWaitCondition[]> turns;
    const int sensors;
    int next_turn = 0;
    int streaming = 0;
    int verifying = 0;
    int failures = 0;
    int canaries_good = 0;
    bool canary_stop = false;
};

class sensor_job : public QRunnable
{
public:
    sensor_job(fleet_schedule &schedule, int index, const sensor_task &task)
        : schedule(schedule), index(index), task(task)
    {
    }
    void run() override { schedule.serve(index, task); }

private:
    fleet_schedule &schedule;
    const int index;
    const sensor_task task;
};

} // namespace

void run_fleet_schedule(const QVector<sensor_task> &tasks, const fleet_rules &rules,
                        const fleet_stops &stops, fleet_report &report)
{
    fleet_schedule schedule(rules, stops, tasks.size(), report);
    const auto finishing = [&schedule] { return schedule.finishing(); };
    QThreadPool pool;
    pool.setMaxThreadCount(rules.links);
    const int canaries = qMin(rules.canary, tasks.size());
    for (int i = 0; i < tasks.size(); ++i) {
        if (i == canaries && canaries > 0) {
            report.await(pool, finishing);
            schedule.judge_canaries();
        }
        pool.start(new sensor_job(schedule, i, tasks[i]));
    }
    report.await(pool, finishing);
}
