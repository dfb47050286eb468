#include "fleet/fleet_run.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>
#include <memory>

#include "fleet/run_watch.h"
#include "package/package_file.h"

namespace
{

const qint64 progress_interval_ms = 1000;
// How often a waiting sensor looks at the stops.
const unsigned long stop_poll_ms = 100;

// Tells one sensor's images as they stream, at most once a second.
class progress_reports : public upgrade_observer
{
public:
    progress_reports(const sensor_task &task, fleet_observer &observer)
        : task(task), observer(observer)
    {
    }
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
        observer.sensor_progress(task.address,
                                 {bare_name(task.plan.files[index].path), taken, total,
                                  qMax<qint64>(1, image_clock.elapsed()) / 1000.0});
    }

private:
    const sensor_task &task;
    fleet_observer &observer;
    QElapsedTimer image_clock, shown;
};

// Why a sensor does not start, if it does not.
struct stop_reason {
    bool stops = false;
    outcome why;
};

// Sensors take their turn to stream in the order given, so the stop rules see the sensors
// before them ended or streaming. Each waits on a turn of its own, so passing a turn wakes one
// sensor, not all.
class fleet_schedule
{
public:
    fleet_schedule(const fleet_rules &rules, const fleet_stops &stops, int sensors,
                   run_watch &watch)
        : rules(rules), stops(stops), watch(watch), turns(new QWaitCondition[size_t(sensors)]),
          sensors(sensors)
    {
    }

    void serve(int index, const sensor_task &task)
    {
        const stop_reason stop = reason(task);
        if (stop.stops) {
            pass_turn(index, unstarted_record(task, run_mode::upgrade, stop.why));
            return;
        }
        const serving_sensor serving(task.address);
        progress_reports progress(task, watch.observer);
        sensor_run run(task, stops.links);
        if (run.open()) {
            upgrade(index, task, run, progress);
        } else {
            const sensor_record record = run.finish();
            run.hang_up();
            pass_turn(index, record);
        }
    }

    // After the canaries ended: the rest start only when all of them were upgraded.
    void judge_canaries()
    {
        const QMutexLocker lock(&mutex);
        canary_stop = canaries_good < rules.canary;
    }

    fleet_activity activity()
    {
        const QMutexLocker lock(&mutex);
        fleet_activity now;
        now.streaming = streaming;
        now.verifying = verifying;
        return now;
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
        watch.finished(record);
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
            return {true, outcome(outcome_kind::interrupted)};
        // The package is no longer the one checked: nothing more of it is sent anywhere.
        if (task.plan.change->known())
            return {true, outcome(outcome_kind::held_back, task.plan.change->message())};
        if (canary_stop)
            return {true, outcome(outcome_kind::held_back,
                                  QString("the first %1 sensors (--canary) were not all upgraded")
                                      .arg(rules.canary))};
        if (rules.max_failures > 0 && failures >= rules.max_failures)
            return {true,
                    outcome(outcome_kind::held_back,
                            QString("%1 sensors failed (--max-failures)").arg(rules.max_failures))};
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
            (next_turn == index ? slot_freed : turns[index]).wait(&mutex, stop_poll_ms);
        wait_turn(index);
        if (stop.stops) {
            lock.unlock();
            run.withhold(stop.why);
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
        watch.finished(record);
        QMutexLocker lock(&mutex);
        wait_turn(index);
        count_locked(index, record);
    }

    // Waits for the sensor's turn and passes it on.
    void wait_turn(int index)
    {
        while (next_turn != index)
            turns[index].wait(&mutex, stop_poll_ms);
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
        const record_result result = result_of(record);
        failures += result == record_result::failed;
        // A canary already at the package version runs it as surely as one just upgraded.
        canaries_good += index < rules.canary &&
                         (result == record_result::upgraded || result == record_result::skipped);
        slot_freed.wakeAll();
    }

    const fleet_rules &rules;
    const fleet_stops &stops;
    run_watch &watch;
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

QVector<sensor_record> upgrade_sensors(const QVector<sensor_task> &tasks, const fleet_rules &rules,
                                       const fleet_stops &stops, fleet_observer &observer)
{
    run_watch watch(observer);
    fleet_schedule schedule(rules, stops, tasks.size(), watch);
    const auto now = [&schedule] { return schedule.activity(); };
    QThreadPool pool;
    pool.setMaxThreadCount(rules.links);
    const int canaries = qMin(rules.canary, tasks.size());
    for (int i = 0; i < tasks.size(); ++i) {
        if (i == canaries && canaries > 0) {
            watch.await(pool, now);
            schedule.judge_canaries();
        }
        pool.start(new sensor_job(schedule, i, tasks[i]));
    }
    return watch.await(pool, now);
}
