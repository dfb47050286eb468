#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include "device/link_threads.h"
#include "fleet/fleet_run.h"
#include "fleet/run_watch.h"

namespace
{

// Checks the sensors in order on the link threads, up to a number of links open at once; each
// check's waits are events there, so no check holds a thread.
class site_check
{
public:
    site_check(const QVector<sensor_task> &tasks, int links, const fleet_stops &stops,
               run_watch &watch)
        : tasks(tasks), links(qMax(1, links)), stops(stops), watch(watch)
    {
    }

    // Starts what may start: called whenever a check ended, and every look of the run.
    void dial_more()
    {
        const QMutexLocker lock(&mutex);
        for (; next < tasks.size() && (open < links || stops.dialling.stop_requested()); ++next) {
            const sensor_task &task = tasks[next];
            if (stops.dialling.stop_requested()) {
                record(unstarted_record(task, run_mode::check, outcome(outcome_kind::interrupted)));
                continue;
            }
            ++open;
            link_threads::post(threads.next(), [this, &task] {
                check_sensor(task, stops.links, [this](const sensor_record &checked) {
                    const QMutexLocker lock(&mutex);
                    --open;
                    record(checked);
                });
            });
        }
    }

    bool ended(int ms)
    {
        dial_more();
        QMutexLocker lock(&mutex);
        if (ended_count < tasks.size())
            all_ended.wait(&mutex, ulong(ms));
        return ended_count == tasks.size();
    }

    fleet_activity activity()
    {
        const QMutexLocker lock(&mutex);
        fleet_activity now;
        now.checking = open;
        return now;
    }

private:
    void record(const sensor_record &checked)
    {
        watch.finished(checked);
        if (++ended_count == tasks.size())
            all_ended.wakeAll();
    }

    const QVector<sensor_task> &tasks;
    const int links;
    const fleet_stops &stops;
    run_watch &watch;
    QMutex mutex;
    QWaitCondition all_ended;
    int next = 0;
    int open = 0;
    int ended_count = 0;
    link_threads threads; // last: its threads end first, with every check's last step run
};

} // namespace

QVector<sensor_record> check_sensors(const QVector<sensor_task> &tasks, int jobs,
                                     const fleet_stops &stops, fleet_observer &observer)
{
    run_watch watch(observer);
    site_check check(tasks, jobs, stops, watch);
    return watch.await([&check](int ms) { return check.ended(ms); },
                       [&check] { return check.activity(); });
}
