#ifndef SENSOR_RUN_H
#define SENSOR_RUN_H

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

#include "device/tcp_device.h"
#include "upgrade/upgrade_engine.h"

// What a sensor is given and what it may refuse; a check may have no package version.
struct sensor_task {
    QString address;
    QString package_version;
    QList<QStringList> update_list;
    upgrade_plan plan;
    bool allow_downgrade = false;
    bool reinstall = false;
    int verify_seconds = 0; // 0: the sensor is not awaited after "shutdown"
    // Only a range named the address: where nothing answers the connection there is no sensor.
    bool ranged = false;
};

// How one sensor's upgrade or check ended.
struct sensor_record {
    // A check's results follow an upgrade's: current (at the package's version), outdated
    // (the package would be sent), refused, unreachable, or found when there is no package.
    // not_started: a sensor a stop rule (--canary, --max-failures) or a changed package kept
    // from starting. empty: an address of a range where nothing answered, in a check or an
    // upgrade: no sensor.
    enum result_kind {
        upgraded,
        skipped,
        failed,
        interrupted,
        current,
        outdated,
        refused,
        unreachable,
        found,
        not_started,
        empty
    };
    QString address;
    QString old_version;
    QString new_version;
    result_kind result = failed;
    QString message;
    QString detail; // what the message is about, when there is more to say
    QVector<sent_file> files;
    QDateTime started;
    double seconds = 0;
    QString verified_version; // empty: not verified
};

// The record of a sensor whose upgrade never started.
sensor_record unstarted_record(const sensor_task &task, sensor_record::result_kind result,
                               const QString &message = {});

// One sensor's upgrade on a link of its own, in steps that may be spread out in time:
// open, send, finish, hang_up. All run on the thread that made the object; every wait of them
// gives up once stop fires, and the sensor is then interrupted.
class sensor_run
{
public:
    sensor_run(const sensor_task &task, const stop_token &stop);
    // Connects, reads the version and checks it against the package: true when the link is
    // open and waits for send; false when the record is final.
    bool open();
    // Whether the open link may be sent on, at the sensor's turn: a link the sensor closed while
    // it waited is dialled once more, with the same checks; false when the record is final.
    bool ready();
    // Sends the plan on the open link, "shutdown" at its end. observer sees the run.
    void send(upgrade_observer &observer);
    // Ends the link without sending: the upgrade never started, for the reason given.
    void withhold(sensor_record::result_kind result, const QString &message = {});
    // The record of the whole upgrade. After a sent plan and with verification, first closes the
    // link and waits for the sensor to come back with the package version.
    sensor_record finish();
    // Closes the link, letting what was queued leave.
    void hang_up();

private:
    bool open_link(bool ranged);
    void verify();
    void judge_restart(const QString &version);

    const sensor_task &task;
    const stop_token stop;
    tcp_device device;
    sensor_record record;
    QElapsedTimer clock;
    QElapsedTimer since_shutdown;
};

// Connects and reads the version as an upgrade does, and says what the package would do;
// sends nothing but the log request, and closes the link. Its waits give up once stop fires, and
// the sensor is then interrupted.
sensor_record check_sensor(const sensor_task &task, const stop_token &stop);

#endif
