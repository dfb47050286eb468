#include "upgrade/sensor_run.h"

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
    bool interrupted() override { return shown.interrupted(); }

private:
    upgrade_observer &shown;
    QVector<sent_file> &files;
};

// What stops the sensor before anything is sent: the message, or empty.
QString refusal(const sensor_task &task, const QString &version)
{
    const QString gate = gate_failure(version, task.package_version, task.update_list);
    if (!gate.isEmpty())
        return gate;
    if (is_downgrade(version, task.package_version) && !task.allow_downgrade)
        return "error: downgrade from " + version + " to " + task.package_version +
               " refused without --allow-downgrade";
    return {};
}

// Lets what was queued leave, then ends the link.
void close_link(tcp_device &device)
{
    device.disconnectFromHost();
    if (device.state() != QAbstractSocket::UnconnectedState)
        wait_for(device, link_event::disconnected, goodbye_wait_ms);
    device.abort();
}

// Dials the sensor and reads its version into the record; false, with the record's message,
// when there is no link or no version (the link is closed then).
bool reach_sensor(tcp_device &device, const sensor_task &task, sensor_record &record)
{
    const connect_outcome link = connect_sensor(device, task.address);
    record.old_version = link.version;
    record.message = link.messages.join('\n');
    return link.messages.isEmpty();
}

// What the package would do with the reached sensor: current, refused (with the record's
// message) or outdated, which is sent.
sensor_record::result_kind package_verdict(const sensor_task &task, sensor_record &record)
{
    if (record.old_version == task.package_version && !task.reinstall)
        return sensor_record::current;
    record.message = refusal(task, record.old_version);
    return record.message.isEmpty() ? sensor_record::outdated : sensor_record::refused;
}

void check_version(const sensor_task &task, sensor_record &record)
{
    tcp_device device;
    if (!reach_sensor(device, task, record))
        record.result = sensor_record::unreachable;
    else if (task.package_version.isEmpty())
        record.result = sensor_record::found;
    else
        record.result = package_verdict(task, record);
    close_link(device);
}

// A wait cut short by the interrupt fails: the sensor was interrupted, whatever step it was at.
void settle_interrupted(sensor_record &record, bool stopped)
{
    const bool cut_short =
        record.result == sensor_record::failed || record.result == sensor_record::unreachable;
    if (cut_short && stopped) {
        record.result = sensor_record::interrupted;
        record.message.clear();
        record.detail.clear();
    }
}

// Sleeps until the clock shows ms, unless the observer interrupts first: then false.
bool pause_until(const QElapsedTimer &clock, qint64 ms, upgrade_observer &observer)
{
    while (clock.elapsed() < ms) {
        if (observer.interrupted())
            return false;
        QThread::msleep(ulong(qMin<qint64>(pause_step_ms, ms - clock.elapsed())));
    }
    return !observer.interrupted();
}

} // namespace

sensor_record unstarted_record(const sensor_task &task, sensor_record::result_kind result,
                               const QString &message)
{
    sensor_record record;
    record.address = task.address;
    record.new_version = task.package_version;
    record.result = result;
    record.message = message;
    record.started = QDateTime::currentDateTimeUtc();
    return record;
}

sensor_run::sensor_run(const sensor_task &task)
    : task(task), record(unstarted_record(task, sensor_record::failed))
{
    clock.start();
}

bool sensor_run::open()
{
    if (!reach_sensor(device, task, record))
        return false;
    const sensor_record::result_kind verdict = package_verdict(task, record);
    if (verdict == sensor_record::outdated) {
        announce_upgrade(record.old_version, task.package_version);
        return true;
    }
    record.result =
        verdict == sensor_record::current ? sensor_record::skipped : sensor_record::failed;
    return false;
}

void sensor_run::send(upgrade_observer &observer)
{
    recording_observer recording(observer, record.files);
    const upgrade_outcome outcome = run_upgrade(device, task.plan, recording);
    since_shutdown.start();
    record.result = outcome.result == upgrade_outcome::done          ? sensor_record::upgraded
                    : outcome.result == upgrade_outcome::interrupted ? sensor_record::interrupted
                                                                     : sensor_record::failed;
    if (outcome.result == upgrade_outcome::failed) {
        record.message = outcome.message;
        record.detail = outcome.detail;
    }
}

void sensor_run::hang_up()
{
    close_link(device);
}

void sensor_run::withhold(sensor_record::result_kind result, const QString &message)
{
    record.result = result;
    record.message = message;
}

sensor_record sensor_run::finish(upgrade_observer &observer)
{
    if (record.result == sensor_record::upgraded && task.verify_seconds > 0) {
        hang_up();
        verify(observer);
    }
    settle_interrupted(record, observer.interrupted());
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}

// The sensor restarts after "shutdown": dials it anew, an attempt at most every few seconds,
// until it answers with a version or the time allowed since "shutdown" has passed.
void sensor_run::verify(upgrade_observer &observer)
{
    const qint64 limit_ms = qint64(task.verify_seconds) * 1000;
    for (qint64 due = qMin(verify_attempt_ms, limit_ms);;
         due = qMin(due + verify_attempt_ms, limit_ms)) {
        if (!pause_until(since_shutdown, due, observer)) {
            record.result = sensor_record::interrupted;
            return;
        }
        tcp_device probe;
        const QString version = connect_sensor(probe, task.address).version;
        close_link(probe);
        if (!version.isEmpty()) {
            record.verified_version = version;
            if (version != task.package_version) {
                record.result = sensor_record::failed;
                record.message =
                    "error: sensor restarted with " + version + ", not " + task.package_version;
            }
            return;
        }
        if (due >= limit_ms || since_shutdown.elapsed() >= limit_ms)
            break;
    }
    record.result = sensor_record::failed;
    record.message =
        QString("error: sensor did not come back within %1 s").arg(task.verify_seconds);
}

sensor_record check_sensor(const sensor_task &task)
{
    sensor_record record = unstarted_record(task, sensor_record::failed);
    QElapsedTimer clock;
    clock.start();
    check_version(task, record);
    settle_interrupted(record, waits_stopped());
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}
