#include "fleet/fleet_run.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>
#include <vector>

#include "device/link_threads.h"

#include "fleet/run_watch.h"
#include "package/package_file.h"
#include "upgrade/rate_cap.h"

namespace
{

const qint64 progress_interval_ms = 1000;

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
// before them ended or streaming. Links are opened ahead, in order, as many as rules.links, on
// the link threads, where their waits are events (connect, log, hang-up, the wait for a
// restarted sensor); in its turn, once a slot is free, a link moves to a streaming thread (one
// of rules.jobs) for its images and back. Called from the link threads, the streaming threads
// and the run's thread, under one lock.
class fleet_schedule
{
public:
    fleet_schedule(const QVector<sensor_task> &tasks, const fleet_rules &rules,
                   const fleet_stops &stops, run_watch &watch)
        : tasks(tasks), rules(rules), stops(stops), watch(watch), sensors(size_t(tasks.size())),
          canaries(qMin(rules.canary, tasks.size()))
    {
        streams.setMaxThreadCount(qMax(1, rules.jobs));
    }

    ~fleet_schedule() { streams.waitForDone(); }

    // Whether every sensor ended and every link is gone, waiting up to ms; looks at the stops
    // and the turns first.
    bool ended(int ms)
    {
        QMutexLocker lock(&mutex);
        move_on();
        if (!all_ended())
            changed.wait(&mutex, ulong(ms));
        return all_ended();
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
    enum class stage { waiting, opening, open, streaming, decided, counted };
    struct sensor {
        stage at = stage::waiting;
        sensor_run *run = nullptr; // lives on its link's thread
        QThread *thread = nullptr;
        sensor_record record; // once decided before its turn
    };

    bool all_ended() const { return counted == tasks.size() && links_open == 0; }

    // Dials and passes turns as far as the rules let.
    void move_on()
    {
        pass_turns();
        dial_more();
        pass_turns();
        changed.wakeAll();
    }

    void dial_more()
    {
        for (; next_dial < tasks.size(); ++next_dial) {
            // The others start once the canaries ended: only if all of them were upgraded.
            if (next_dial == canaries && canaries > 0) {
                if (canaries_counted < canaries)
                    return;
                canary_stop = canaries_good < rules.canary;
            }
            const stop_reason stop = locked_reason(tasks[next_dial]);
            if (stop.stops) {
                decide(next_dial, unstarted_record(tasks[next_dial], run_mode::upgrade, stop.why));
                continue;
            }
            if (links_open >= qMax(rules.links, 1))
                return;
            open_link(next_dial);
        }
    }

    void open_link(int index)
    {
        ++links_open;
        sensor &each = sensors[size_t(index)];
        each.at = stage::opening;
        each.thread = threads.next();
        link_threads::post(each.thread, [this, index, &each] {
            each.run = new sensor_run(tasks[index], stops.links);
            each.run->open([this, index](bool open) { opened(index, open); });
        });
    }

    // On the link's thread.
    void opened(int index, bool open)
    {
        sensor &each = sensors[size_t(index)];
        if (!open)
            each.run->finish([this, index](const sensor_record &record) {
                const QMutexLocker lock(&mutex);
                decide(index, record);
            });
        const QMutexLocker lock(&mutex);
        if (open)
            each.at = stage::open;
        else
            hang_up(index);
        move_on();
    }

    // A sensor's record before its turn: told now, counted in its turn, so that the sensors
    // after it see it whatever the timing.
    void decide(int index, const sensor_record &record)
    {
        sensor &each = sensors[size_t(index)];
        watch.finished(record);
        each.record = record;
        each.at = stage::decided;
    }

    void pass_turns()
    {
        for (; next_turn < tasks.size(); ++next_turn) {
            sensor &each = sensors[size_t(next_turn)];
            if (each.at == stage::decided) {
                count(next_turn, each.record);
                continue;
            }
            if (each.at != stage::open)
                return;
            const stop_reason stop = locked_reason(tasks[next_turn]);
            if (stop.stops) {
                each.run->withhold(stop.why);
                each.run->finish([&](const sensor_record &record) {
                    watch.finished(record);
                    count(next_turn, record);
                });
                hang_up(next_turn);
                continue;
            }
            if (streaming >= rules.jobs)
                return;
            ++streaming;
            each.at = stage::streaming;
            streams.start(new stream_job(*this, next_turn));
        }
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

    // Streams the sensor's images on a streaming thread: the link comes over for its turn and
    // goes back to its own thread after.
    class stream_job : public QRunnable
    {
    public:
        stream_job(fleet_schedule &schedule, int index) : schedule(schedule), index(index) {}
        void run() override
        {
            const sensor_task &task = schedule.tasks[index];
            sensor &each = schedule.sensors[size_t(index)];
            QThread *const streaming = QThread::currentThread();
            link_threads::run_and_wait(each.thread, [&] { each.run->move_link(streaming); });
            {
                const serving_sensor serving(task.address);
                progress_reports progress(task, schedule.watch.observer);
                if (each.run->ready())
                    each.run->send(progress);
            }
            each.run->move_link(each.thread);
            // The job ends as it returns: the step after it takes what it needs.
            fleet_schedule &after = schedule;
            const int sensor_index = index;
            link_threads::post(each.thread,
                               [&after, sensor_index] { after.streamed(sensor_index); });
        }

    private:
        fleet_schedule &schedule;
        const int index;
    };

    // On the link's thread, after the images. The wait for a restarted sensor holds no slot;
    // otherwise the slot passes on once the sensor's record is written, so a record that cannot
    // be kept stops the next sensor.
    void streamed(int index)
    {
        const bool verifies = tasks[index].verify_seconds > 0;
        if (verifies) {
            const QMutexLocker lock(&mutex);
            --streaming;
            ++verifying;
            move_on();
        }
        sensors[size_t(index)].run->finish([this, index, verifies](const sensor_record &record) {
            const QMutexLocker lock(&mutex);
            watch.finished(record);
            count(index, record);
            --(verifies ? verifying : streaming);
            hang_up(index);
            move_on();
        });
    }

    // Closes the sensor's link on its thread; the sensor's run ends after.
    void hang_up(int index)
    {
        sensor &each = sensors[size_t(index)];
        link_threads::post(each.thread, [this, &each] {
            each.run->hang_up([this, &each] {
                later([this, &each] {
                    delete each.run;
                    each.run = nullptr;
                    const QMutexLocker lock(&mutex);
                    --links_open;
                    move_on();
                });
            });
        });
    }

    void count(int index, const sensor_record &record)
    {
        sensors[size_t(index)].at = stage::counted;
        ++counted;
        const record_result result = result_of(record);
        failures += result == record_result::failed;
        // A canary already at the package version runs it as surely as one just upgraded.
        if (index < canaries) {
            ++canaries_counted;
            canaries_good += result == record_result::upgraded || result == record_result::skipped;
        }
    }

    const QVector<sensor_task> &tasks;
    const fleet_rules &rules;
    const fleet_stops &stops;
    run_watch &watch;
    QMutex mutex;
    QWaitCondition changed;
    std::vector<sensor> sensors;
    const int canaries;
    int next_dial = 0;
    int next_turn = 0;
    int links_open = 0;
    int streaming = 0;
    int verifying = 0;
    int counted = 0;
    int failures = 0;
    int canaries_counted = 0;
    int canaries_good = 0;
    bool canary_stop = false;
    QThreadPool streams;
    link_threads threads; // last: its threads end first, with every link's last step run
};

} // namespace

QVector<sensor_record> upgrade_sensors(const QVector<sensor_task> &given, const fleet_rules &rules,
                                       const fleet_stops &stops, fleet_observer &observer)
{
    // One cap for the images of the whole run.
    QVector<sensor_task> tasks = given;
    if (rules.max_rate > 0) {
        const auto cap = std::make_shared<rate_cap>(rules.max_rate);
        for (sensor_task &task : tasks)
            task.plan.cap = cap;
    }
    run_watch watch(observer);
    fleet_schedule schedule(tasks, rules, stops, watch);
    return watch.await([&schedule](int ms) { return schedule.ended(ms); },
                       [&schedule] { return schedule.activity(); });
}
