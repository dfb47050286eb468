#include "upgrade/sensor_run.h"

#include <QElapsedTimer>

#include "device/link_wait.h"
#include "device/sensor_connect.h"
#include "device/tcp_device.h"
#include "upgrade/version_gate.h"

namespace
{

const int goodbye_wait_ms = 3000;

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
void hang_up(tcp_device &device)
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

void dial_and_send(const sensor_task &task, upgrade_observer &observer, sensor_record &record)
{
    tcp_device device;
    if (!reach_sensor(device, task, record))
        return;
    const sensor_record::result_kind verdict = package_verdict(task, record);
    if (verdict != sensor_record::outdated) {
        record.result =
            verdict == sensor_record::current ? sensor_record::skipped : sensor_record::failed;
        hang_up(device);
        return;
    }
    announce_upgrade(record.old_version, task.package_version);
    recording_observer recording(observer, record.files);
    const upgrade_outcome outcome = run_upgrade(device, task.plan, recording);
    record.result = outcome.result == upgrade_outcome::done          ? sensor_record::upgraded
                    : outcome.result == upgrade_outcome::interrupted ? sensor_record::interrupted
                                                                     : sensor_record::failed;
    if (outcome.result == upgrade_outcome::failed) {
        record.message = outcome.message;
        record.detail = outcome.detail;
    }
    hang_up(device);
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
    hang_up(device);
}

sensor_record record_of(const sensor_task &task, sensor_record::result_kind result)
{
    sensor_record record;
    record.address = task.address;
    record.new_version = task.package_version;
    record.result = result;
    record.started = QDateTime::currentDateTimeUtc();
    return record;
}

// The record of one step on the sensor, with the time it took. A wait cut short by the
// interrupt fails: the sensor was interrupted, whatever step it was at.
template <class Step, class Stopped>
sensor_record timed(const sensor_task &task, Step step, Stopped stopped)
{
    sensor_record record = record_of(task, sensor_record::failed);
    QElapsedTimer clock;
    clock.start();
    step(record);
    const bool cut_short =
        record.result == sensor_record::failed || record.result == sensor_record::unreachable;
    if (cut_short && stopped()) {
        record.result = sensor_record::interrupted;
        record.message.clear();
    }
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}

} // namespace

sensor_record never_dialled(const sensor_task &task)
{
    return record_of(task, sensor_record::interrupted);
}

sensor_record upgrade_sensor(const sensor_task &task, upgrade_observer &observer)
{
    return timed(
        task, [&](sensor_record &record) { dial_and_send(task, observer, record); },
        [&] { return observer.interrupted(); });
}

sensor_record check_sensor(const sensor_task &task)
{
    return timed(
        task, [&](sensor_record &record) { check_version(task, record); }, waits_stopped);
}
