#include "upgrade/sensor_run.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include "device/link_threads.h"
#include "device/link_wait.h"
#include "device/sensor_connect.h"
#include "upgrade/version_gate.h"

namespace
{

const int goodbye_wait_ms = 3000;
// After "shutdown" the sensor restarts: how often it is dialled until it is back.
const qint64 verify_attempt_ms = 2000;

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

// What a connect brought to the record: true with a version; otherwise the record's outcome.
// An address of a range where nothing answered the connection is no sensor: nothing is said of
// it.
bool reached(const connection &link, sensor_record &record)
{
    record.old_version = link.version;
    if (!link.version.isEmpty())
        return true;
    const bool no_sensor = record.ranged && link.how.kind == outcome_kind::unanswered;
    record.result = no_sensor ? outcome(outcome_kind::unanswered) : link.how;
    return false;
}

// Dials the sensor and reads its version, blocking the thread.
bool reach_sensor(tcp_device &device, const sensor_task &task, sensor_record &record,
                  const stop_token &stop)
{
    return reached(connect_sensor(device, task.address, QDeadlineTimer::Forever, stop), record);
}

// Dials the sensor at address and reads its version as events on the device's thread; done
// gets what came.
void probe_version(tcp_device &device, const QString &address, const QDeadlineTimer &deadline,
                   const stop_token &stop, std::function<void(const connection &)> done)
{
    const auto made = std::make_shared<version_probe *>(nullptr);
    *made =
        new version_probe(device, address, deadline, stop, [made, done](const connection &link) {
            version_probe *ended = *made;
            later([ended] { delete ended; });
            done(link);
        });
    (*made)->start();
}

// Lets what was queued leave, then ends the link, as events on the device's thread.
void close_link(tcp_device &device, const stop_token &stop, std::function<void()> done)
{
    device.disconnectFromHost();
    if (device.state() == QAbstractSocket::UnconnectedState) {
        device.abort();
        done();
        return;
    }
    struct goodbye {
        QObject events;
        QTimer wait;
        std::unique_ptr<stop_look> look;
        bool over = false;
    };
    auto *wait = new goodbye;
    const auto end = [wait, &device, done] {
        if (wait->over)
            return;
        wait->over = true;
        QObject::disconnect(&device, nullptr, &wait->events, nullptr);
        wait->wait.stop();
        wait->look.reset();
        device.abort();
        later([wait] { delete wait; });
        done();
    };
    QObject::connect(&device, &QAbstractSocket::disconnected, &wait->events, end);
    QObject::connect(&wait->wait, &QTimer::timeout, &wait->events, end);
    wait->wait.setSingleShot(true);
    wait->wait.setTimerType(Qt::PreciseTimer);
    wait->wait.start(goodbye_wait_ms);
    if (stop.may_fire())
        wait->look.reset(new stop_look([end, stop] {
            if (stop.stop_requested())
                end();
        }));
}

// What the package would do with the reached sensor: current, refused, or ok (it is sent).
outcome package_verdict(const sensor_task &task, const sensor_record &record)
{
    if (record.old_version == task.package_version && !task.reinstall)
        return outcome(outcome_kind::current);
    return refusal(task, record.old_version);
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

// The attempts after "shutdown", as events on the calling thread: the sensor is dialled anew,
// an attempt at most every few seconds, until the time allowed since "shutdown" has passed; no
// wait of an attempt runs past it. The package version is proof at any time; another version
// counts only once the sensor was seen gone (a connection nothing answered, a link it closed)
// before the attempt that read it. done gets the verdict: ok, or failed, or interrupted.
class restart_attempts
{
public:
    restart_attempts(const sensor_task &task, const stop_token &stop,
                     const QElapsedTimer &since_shutdown, sensor_record &record,
                     std::function<void()> done)
        : task(task), stop(stop), since_shutdown(since_shutdown), record(record),
          done(std::move(done)), limit_ms(qint64(task.verify_seconds) * 1000),
          deadline(limit_ms - since_shutdown.elapsed(), Qt::PreciseTimer), watch{record.old_version}
    {
        pause.setSingleShot(true);
        pause.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pause, &QTimer::timeout, &events, [this] { paused(); });
    }

    void start() { next_attempt(); }

private:
    void next_attempt()
    {
        if (deadline.hasExpired()) {
            end(outcome(outcome_kind::failed, watch.failure(task.verify_seconds)));
            return;
        }
        due_ms = qMin(due_ms, limit_ms);
        paused();
    }

    // Waits until the attempt is due, looking at the stop meanwhile.
    void paused()
    {
        if (stop.stop_requested()) {
            end(outcome(outcome_kind::interrupted));
            return;
        }
        const qint64 left = due_ms - since_shutdown.elapsed();
        if (left > 0) {
            pause.start(int(left));
            if (!look)
                look.reset(new stop_look([this] {
                    if (stop.stop_requested())
                        paused();
                }));
            return;
        }
        look.reset();
        if (deadline.hasExpired()) {
            end(outcome(outcome_kind::failed, watch.failure(task.verify_seconds)));
            return;
        }
        probe.reset(new tcp_device);
        probe_version(*probe, task.address, deadline, stop,
                      [this](const connection &back) { attempted(back); });
    }

    void attempted(const connection &back)
    {
        probe->abort();
        later([gone = probe.release()] { delete gone; });
        if (back.version == task.package_version || (watch.gone && !back.version.isEmpty())) {
            record.verified_version = back.version;
            end(back.version == task.package_version
                    ? outcome(outcome_kind::ok)
                    : outcome(outcome_kind::failed, "error: sensor restarted with " + back.version +
                                                        ", not " + task.package_version));
            return;
        }
        watch.saw(back);
        due_ms += verify_attempt_ms;
        next_attempt();
    }

    void end(const outcome &verdict)
    {
        pause.stop();
        look.reset();
        if (!verdict.is_ok())
            record.result = verdict;
        done();
    }

    const sensor_task &task;
    const stop_token stop;
    const QElapsedTimer &since_shutdown;
    sensor_record &record;
    const std::function<void()> done;
    const qint64 limit_ms;
    const QDeadlineTimer deadline;
    restart_watch watch;
    qint64 due_ms = 0;
    QObject events;
    QTimer pause;
    std::unique_ptr<stop_look> look;
    std::unique_ptr<tcp_device> probe;
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
    : task(task), stop(stop), device(new tcp_device),
      record(unstarted_record(task, run_mode::upgrade, outcome(outcome_kind::failed)))
{
    clock.start();
}

sensor_run::~sensor_run() = default;

void sensor_run::open(std::function<void(bool)> done)
{
    probe_version(
        *device, task.address, QDeadlineTimer::Forever, stop,
        [this, done](const connection &link) { done(reached(link, record) && open_verdict()); });
}

// Firmware may close a link left idle. Having answered once, the sensor is no empty address when
// the second dial finds nothing.
bool sensor_run::ready()
{
    if (link_still_quiet(*device))
        return true;
    qDebug() << "link closed or out of step while waiting for its turn: dialling again";
    device->abort();
    record.ranged = false;
    return reach_sensor(*device, task, record, stop) && open_verdict();
}

// The reached sensor's version against the package: true when the package is sent.
bool sensor_run::open_verdict()
{
    record.result = package_verdict(task, record);
    if (!record.result.is_ok())
        return false;
    announce_upgrade(record.old_version, task.package_version);
    return true;
}

void sensor_run::send(upgrade_observer &observer)
{
    recording_observer recording(observer, record.files);
    record.result = run_upgrade(*device, task.plan, recording, stop);
    since_shutdown.start();
}

void sensor_run::move_link(QThread *thread)
{
    device->moveToThread(thread);
}

void sensor_run::hang_up(std::function<void()> done)
{
    close_link(*device, stop, std::move(done));
}

void sensor_run::withhold(const outcome &why)
{
    record.result = why;
}

sensor_record sensor_run::final_record()
{
    settle_interrupted(record, stop.stop_requested());
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}

void sensor_run::finish(std::function<void(const sensor_record &)> done)
{
    if (result_of(record) != record_result::upgraded || task.verify_seconds <= 0) {
        done(final_record());
        return;
    }
    hang_up([this, done] {
        const auto made = std::make_shared<restart_attempts *>(nullptr);
        *made = new restart_attempts(task, stop, since_shutdown, record, [this, made, done] {
            restart_attempts *ended = *made;
            later([ended] { delete ended; });
            done(final_record());
        });
        (*made)->start();
    });
}

void check_sensor(const sensor_task &task, const stop_token &stop,
                  std::function<void(const sensor_record &)> done)
{
    struct check {
        sensor_record record;
        QElapsedTimer clock;
        tcp_device device;
    };
    auto *run = new check{unstarted_record(task, run_mode::check, outcome()), {}, {}};
    run->clock.start();
    probe_version(run->device, task.address, QDeadlineTimer::Forever, stop,
                  [run, &task, stop, done](const connection &link) {
                      // Without a package a sensor that gave its version is found.
                      if (reached(link, run->record) && !task.package_version.isEmpty())
                          run->record.result = package_verdict(task, run->record);
                      close_link(run->device, stop, [run, stop, done] {
                          settle_interrupted(run->record, stop.stop_requested());
                          run->record.seconds = run->clock.elapsed() / 1000.0;
                          later([run] { delete run; });
                          done(run->record);
                      });
                  });
}
