#include "upgrade/sensor_run.h"

#include <QDeadlineTimer>
#include <QThread>

#include "device/link_wait.h"
#include "device/sensor_connect.h"
#include "upgrade/version_gate.h"

namespace
{

const int goodbye_wait_ms = 3000;
// After "shutdown" the sensor restarts: how often it is dialled until it is back.
const qint64 verify_attempt_ms = 2000;
const qint64 pause_step_ms = 100;

// Records what the observer sees of the run: the files the sensor acknowledged.
class recording_observer : public upgrade_observer
{
public:
    recording_observer(upgrade_observer &shown, QVector<sent_file> &files)
        : shown(shown), files(files)
    {
    }
    void image_started(int index) override { shown.image_started(index); }
    void image_progress(int index, qint64 taken, qint64 total) override
    {
        shown.image_progress(index, taken, total);
    }
    void file_finished(int index, const sent_file &file) override
    {
        files.append(file);
        shown.file_finished(index, file);
    }

private:
    upgrade_observer &shown;
    QVector<sent_file> &files;
};

// Whether the package may be sent to a sensor at version: ok, or refused.
outcome refusal(const sensor_task &task, const QString &version)
{
    const outcome gate = version_gate(version, task.package_version, task.update_list);
    if (!gate.is_ok())
        return gate;
    if (is_downgrade(version, task.package_version) && !task.allow_downgrade)
        return outcome(outcome_kind::refused, "error: downgrade from " + version + " to " +
                                                  task.package_version +
                                                  " refused without --allow-downgrade");
    return {};
}

// Lets what was queued leave, then ends the link.
void close_link(tcp_device &device, const stop_token &stop)
{
    device.disconnectFromHost();
    if (device.state() != QAbstractSocket::UnconnectedState)
        wait_for(device, link_event::disconnected, goodbye_wait_ms, stop);
    device.abort();
}

// Dials the sensor and reads its version into the record; false, with the record's outcome,
// when there is no link or no version (the link is closed then). An address of a range where
// nothing answered the connection is no sensor: nothing is said of it.
bool reach_sensor(tcp_device &device, const sensor_task &task, sensor_record &record,
                  const stop_token &stop)
{
    const connection link = connect_sensor(device, task.address, QDeadlineTimer::Forever, stop);
    record.old_version = link.version;
    if (!link.version.isEmpty())
        return true;
    const bool no_sensor = record.ranged && link.how.kind == outcome_kind::unanswered;
    record.result = no_sensor ? outcome(outcome_kind::unanswered) : link.how;
    return false;
}

// What the package would do with the reached sensor: current, refused, or ok (it is sent).
outcome package_verdict(const sensor_task &task, const sensor_record &record)
{
    if (record.old_version == task.package_version && !task.reinstall)
        return outcome(outcome_kind::current);
    return refusal(task, record.old_version);
}

void check_version(const sensor_task &task, sensor_record &record, const stop_token &stop)
{
    tcp_device device;
    // Without a package a sensor that gave its version is found.
    if (reach_sensor(device, task, record, stop) && !task.package_version.isEmpty())
        record.result = package_verdict(task, record);
    close_link(device, stop);
}

// A wait cut short by the interrupt fails: the sensor was interrupted, whatever step it was at.
void settle_interrupted(sensor_record &record, bool stopped)
{
    const record_result result = result_of(record);
    const bool cut_short = result == record_result::failed ||
                           result == record_result::unreachable || result == record_result::empty;
    if (cut_short && stopped)
        record.result = outcome(outcome_kind::interrupted);
}

// Sleeps until the clock shows ms, unless stop fires first: then false.
bool pause_until(const QElapsedTimer &clock, qint64 ms, const stop_token &stop)
{
    while (clock.elapsed() < ms) {
        if (stop.stop_requested())
            return false;
        QThread::msleep(ulong(qMin<qint64>(pause_step_ms, ms - clock.elapsed())));
    }
    return !stop.stop_requested();
}

// What the attempts after "shutdown" saw of a sensor that has not proved its restart yet.
struct restart_watch {
    QString still_at;         // the latest version read
    bool gone = false;        // a connection nothing answered, or a link the sensor closed
    bool back_silent = false; // since it was gone, a link came up without a version

    void saw(const connection &back)
    {
        if (!back.version.isEmpty())
            still_at = back.version;
        const bool lost = back.how.kind == outcome_kind::unanswered ||
                          back.how.kind == outcome_kind::closed_by_sensor;
        // An attempt cut short by the deadline shows nothing either way.
        if (lost)
            back_silent = false;
        else if (opened_link(back.how))
            back_silent = gone;
        gone = gone || lost;
    }

    QString failure(int seconds) const
    {
        const QString within = QString(" within %1 s").arg(seconds);
        if (!gone)
            return "error: sensor did not restart" + within + " (still at " + still_at + ")";
        return back_silent ? "error: sensor came back without its version"
                           : "error: sensor did not come back" + within;
    }
};

} // namespace

sensor_record unstarted_record(const sensor_task &task, run_mode mode, const outcome &why)
{
    sensor_record record;
    record.address = task.address;
    record.new_version = task.package_version;
    record.mode = mode;
    record.ranged = task.ranged;
    record.result = why;
    record.started = QDateTime::currentDateTimeUtc();
    return record;
}

sensor_run::sensor_run(const sensor_task &task, const stop_token &stop)
    : task(task), stop(stop),
      record(unstarted_record(task, run_mode::upgrade, outcome(outcome_kind::failed)))
{
    clock.start();
}

bool sensor_run::open()
{
    return open_link();
}

// Firmware may close a link left idle. Having answered once, the sensor is no empty address when
// the second dial finds nothing.
bool sensor_run::ready()
{
    if (link_still_quiet(device))
        return true;
    qDebug() << "link closed or out of step while waiting for its turn: dialling again";
    device.abort();
    record.ranged = false;
    return open_link();
}

bool sensor_run::open_link()
{
    if (!reach_sensor(device, task, record, stop))
        return false;
    record.result = package_verdict(task, record);
    if (!record.result.is_ok())
        return false;
    announce_upgrade(record.old_version, task.package_version);
    return true;
}

void sensor_run::send(upgrade_observer &observer)
{
    recording_observer recording(observer, record.files);
    record.result = run_upgrade(device, task.plan, recording, stop);
    since_shutdown.start();
}

void sensor_run::hang_up()
{
    close_link(device, stop);
}

void sensor_run::withhold(const outcome &why)
{
    record.result = why;
}

sensor_record sensor_run::finish()
{
    if (result_of(record) == record_result::upgraded && task.verify_seconds > 0) {
        hang_up();
        verify();
    }
    settle_interrupted(record, stop.stop_requested());
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}

// The sensor restarts after "shutdown": dials it anew, an attempt at most every few seconds,
// until the time allowed since "shutdown" has passed; no wait of an attempt runs past it. The
// package version is proof at any time; another version counts only once the sensor was seen
// gone (a connection nothing answered, a link it closed) before the attempt that read it.
void sensor_run::verify()
{
    const qint64 limit_ms = qint64(task.verify_seconds) * 1000;
    const QDeadlineTimer deadline(limit_ms - since_shutdown.elapsed(), Qt::PreciseTimer);
    restart_watch watch{record.old_version};
    for (qint64 due = 0; !deadline.hasExpired(); due += verify_attempt_ms) {
        if (!pause_until(since_shutdown, qMin(due, limit_ms), stop)) {
            record.result = outcome(outcome_kind::interrupted);
            return;
        }
        if (deadline.hasExpired())
            break;
        tcp_device probe;
        const connection back = connect_sensor(probe, task.address, deadline, stop);
        probe.abort();
        if (back.version == task.package_version || (watch.gone && !back.version.isEmpty())) {
            judge_restart(back.version);
            return;
        }
        watch.saw(back);
    }
    record.result = outcome(outcome_kind::failed, watch.failure(task.verify_seconds));
}

// The version the restarted sensor reported: upgraded with the package version, else failed.
void sensor_run::judge_restart(const QString &version)
{
    record.verified_version = version;
    if (version != task.package_version)
        record.result = outcome(outcome_kind::failed, "error: sensor restarted with " + version +
                                                          ", not " + task.package_version);
}

sensor_record check_sensor(const sensor_task &task, const stop_token &stop)
{
    sensor_record record = unstarted_record(task, run_mode::check, outcome());
    QElapsedTimer clock;
    clock.start();
    check_version(task, record, stop);
    settle_interrupted(record, stop.stop_requested());
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}
