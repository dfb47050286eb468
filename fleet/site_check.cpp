#include "fleet/site_check.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include "upgrade/sensor_run.h"

namespace
{

class check_job : public QRunnable
{
public:
    check_job(const sensor_task &task, const fleet_stops &stops, fleet_report &report)
        : task(task), stops(stops), report(report)
    {
    }
    void run() override
    {
        if (stops.dialling.stop_requested()) {
            report.finished(unstarted_record(task, sensor_record::interrupted));
            return;
        }
        QThread::currentThread()->setObjectName(task.address);
        report.finished(check_sensor(task, stops.links));
        QThread::currentThread()->setObjectName(QString());
    }

private:
    const sensor_task task;
    const fleet_stops &stops;
    fleet_report &report;
};

sensor_task task_of(const QString &address, const fleet_options &options,
                    const checked_package *package)
{
    sensor_task task;
    task.address = address;
    task.allow_downgrade = options.allow_downgrade;
    task.ranged = options.ranged.contains(address);
    if (package) {
        task.package_version = package->version;
        task.update_list = package->update_list;
    }
    return task;
}

} // namespace

bool check_site(const fleet_options &options, const checked_package *package, int jobs,
                const fleet_stops &stops, fleet_report &report)
{
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    for (const QString &address : options.addresses)
        pool.start(new check_job(task_of(address, options, package), stops, report));
    report.await(pool, [&] {
        const int running = pool.activeThreadCount();
        return running > 0 ? QString("%1 checks").arg(running) : QString();
    });
    return report.summarise();
}
