#include <QRunnable>
#include <QThreadPool>

#include "fleet/fleet_run.h"
#include "fleet/run_watch.h"

namespace
{

class check_job : public QRunnable
{
public:
    check_job(const sensor_task &task, const fleet_stops &stops, run_watch &watch)
        : task(task), stops(stops), watch(watch)
    {
    }
    void run() override
    {
        if (stops.dialling.stop_requested()) {
            watch.finished(
                unstarted_record(task, run_mode::check, outcome(outcome_kind::interrupted)));
            return;
        }
        const serving_sensor serving(task.address);
        watch.finished(check_sensor(task, stops.links));
    }

private:
    const sensor_task task;
    const fleet_stops &stops;
    run_watch &watch;
};

} // namespace

QVector<sensor_record> check_sensors(const QVector<sensor_task> &tasks, int jobs,
                                     const fleet_stops &stops, fleet_observer &observer)
{
    run_watch watch(observer);
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    for (const sensor_task &task : tasks)
        pool.start(new check_job(task, stops, watch));
    return watch.await(pool, [&pool] {
        fleet_activity now;
        now.checking = pool.activeThreadCount();
        return now;
    });
}
