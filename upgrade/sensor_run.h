#ifndef SENSOR_RUN_H
#define SENSOR_RUN_H

#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QVector>
#include <functional>
#include <memory>

#include "device/stop_token.h"
#include "device/tcp_device.h"
#include "upgrade/sensor_record.h"
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

// The record of a sensor that never started, for the reason given.
sensor_record unstarted_record(const sensor_task &task, run_mode mode, const outcome &why);

// One sensor's upgrade on a link of its own, in steps that may be spread out in time: open,
// send, finish, hang_up. The waits of open, finish and hang_up are events on the thread the link
// lives on (one with an event loop), whose done runs there; ready and send block the thread
// that holds the link for their turn (move_link hands it over). Every wait gives up once stop
// fires, and the sensor is then interrupted.
class sensor_run
{
public:
    sensor_run(const sensor_task &task, const stop_token &stop);
    ~sensor_run();
    // Connects, reads the version and checks it against the package: done(true) when the link
    // is open and waits for send; done(false) when the record is final.
    void open(std::function<void(bool)> done);
    // Whether the open link may be sent on, at the sensor's turn: a link the sensor closed while
    // it waited is dialled once more, with the same checks; false when the record is final.
    bool ready();
    // Sends the plan on the open link, "shutdown" at its end. observer sees the run.
    void send(upgrade_observer &observer);
    // Ends the link without sending: the upgrade never started, for the reason given.
    void withhold(const outcome &why);
    // Hands the link to another thread; called on the thread it lives on.
    void move_link(QThread *thread);
    // The record of the whole upgrade, to done. After a sent plan and with verification, first
    // closes the link and waits for the sensor to come back with the package version.
    void finish(std::function<void(const sensor_record &)> done);
    // Closes the link, letting what was queued leave, then done.
    void hang_up(std::function<void()> done);

private:
    bool open_verdict();
    sensor_record final_record();

    const sensor_task &task;
    const stop_token stop;
    std::unique_ptr<tcp_device> device;
    sensor_record record;
    QElapsedTimer clock;
    QElapsedTimer since_shutdown;
};

// Connects and reads the version as an upgrade does, and says what the package would do;
// sends nothing but the log request, and closes the link. Its waits give up once stop fires, and
// the sensor is then interrupted. Event-driven on the calling thread, which has an event loop;
// done gets the record there.
void check_sensor(const sensor_task &task, const stop_token &stop,
                  std::function<void(const sensor_record &)> done);

#endif
