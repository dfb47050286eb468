#include "upgrade/upgrade_engine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QtDebug>

#include "device/descriptor_limit.h"
#include "device/device_result.h"
#include "device/link_reset.h"
#include "device/send_queue.h"
#include "device/tcp_device.h"
#include "package/package_check.h"
#include "package/package_file.h"
#include "upgrade/image_writer.h"

namespace
{

// One file's run, from opening it to the image's acknowledgement.
class file_run
{
public:
    file_run(tcp_device &device, const upgrade_plan &plan, int index, upgrade_observer &observer,
             const stop_token &stop)
        : device(device), plan(plan), entry(plan.files[index]), index(index), observer(observer),
          stop(stop), file_name(bare_name(entry.path))
    {
    }

    // The failure's message, or empty once the sensor acknowledged the image.
    QString send(sent_file &sent)
    {
        qDebug() << "open file" << entry.path;
        QFile file(entry.path);
        if (!file.open(QIODevice::ReadOnly)) {
            detail = open_failure_detail(file);
            return package_failure("error: file open failed!", entry.path);
        }
        qDebug() << "\t--ok";
        const QString refused = announce();
        if (!refused.isEmpty())
            return refused;
        qDebug() << "send file data";
        observer.image_started(index);
        QElapsedTimer clock;
        clock.start();
        const QString unsent = send_image(sent.sha256);
        if (!unsent.isEmpty())
            return unsent;
        sent.seconds = clock.nsecsElapsed() / 1e9;
        qDebug() << "\t--ok";
        qDebug() << "upgrade" << entry.path;
        // The link was up for the whole image: lost by now, whenever the loss was noticed, it
        // is the sensor not acknowledging the image.
        if (device.recv_ack(4, 0, stop) != 0) {
            device.abort();
            return "rror: Lidar not prepared!";
        }
        qDebug() << "\t--ok";
        sent.name = file_name;
        sent.bytes = length;
        return {};
    }

private:
    // Reads the padding count, checks what will be announced, sends "download" and awaits its
    // acknowledgement.
    QString announce()
    {
        const read_result<int> image = image_length(entry.path, plan.package_dir, entry.size);
        if (!image)
            return package_failure(image.failure, companion_path(plan.package_dir, file_name));
        length = *image.value;
        // The last look before the sensor is told anything: a change another run found.
        if (plan.change->known()) {
            withheld = index == 0;
            return change_found_elsewhere();
        }

        qDebug() << "send upgrade command";
        const QString unsent =
            device_failure(device.send_cmd_download(file_name, entry.format, length),
                           "error: command send failed!");
        if (!unsent.isEmpty())
            return unsent;
        qDebug() << "\t--ok";
        qDebug() << "Lidar is preparing";
        const QString unprepared =
            device_failure(device.recv_ack(4, 0, stop), "error: Lidar not prepared!");
        if (!unprepared.isEmpty())
            return unprepared;
        qDebug() << "\t--ok";
        return {};
    }

    // A package file that no longer reads as checked: the package changed. One that did not
    // open for want of a descriptor says so instead, since the package may be whole.
    QString package_failure(const QString &message, const QString &path)
    {
        if (out_of_descriptors())
            return descriptor_shortage(path);
        changed_here = true;
        return message;
    }

    QString change_found_elsewhere()
    {
        detail = plan.change->detail();
        return plan.change->message();
    }

    // Streams the image; a failure resets the link, since the sensor still waits for bytes
    // that will not come, nothing it says later may be taken as an answer, and nothing still
    // queued may reach it.
    QString send_image(QByteArray &sha256)
    {
        const QString failure = stream_image(sha256);
        if (!failure.isEmpty())
            reset_link(device);
        return failure;
    }

    QString stream_image(QByteArray &sha256)
    {
        crypt_stream image;
        if (crypt_stream_open(&image, "decry", entry.path.toLocal8Bit().constData()) != 0)
            return package_failure("Decry Fail", entry.path);
        limit_send_queue(device);
        const image_result result = write_image(
            device, image, length,
            [this](qint64 taken) {
                observer.image_progress(index, taken, length);
                return !stop.stop_requested() && !plan.change->known();
            },
            entry.piece_sha256);
        crypt_stream_close(&image);
        // Every piece sent was checked against the plan's: the bytes sent are the ones it hashed.
        sha256 = entry.sha256;
        switch (result) {
        case image_result::sent:
            observer.image_progress(index, length, length);
            return {};
        case image_result::file_changed:
            changed_here = true;
            return changed_message(file_name);
        case image_result::no_memory:
            return "Decried memory is NULL";
        case image_result::stopped:
            if (plan.change->known())
                return change_found_elsewhere();
            stopped = true;
            return "interrupted";
        case image_result::stalled:
            break;
        }
        return "rror: Lidar not prepared!";
    }

    tcp_device &device;
    const upgrade_plan &plan;
    const plan_file &entry;
    const int index;
    upgrade_observer &observer;
    const stop_token stop;
    const QString file_name;
    int length = 0;

public:
    bool stopped = false;      // stop fired mid-image: the run ends, not fails
    bool changed_here = false; // the failure is a package file that changed since its check
    bool withheld = false;     // another run's change stopped this one before it sent anything
    QString detail;            // what a failure is about, when there is more to say
};

// Ends a run between its steps: the link is reset as after a failed image.
upgrade_outcome interrupted(tcp_device &device)
{
    reset_link(device);
    return {upgrade_outcome::interrupted, "interrupted", {}};
}

} // namespace

upgrade_plan plan_of(const checked_package &package)
{
    upgrade_plan plan;
    plan.package_dir = package.dir;
    for (const checked_file &file : package.files)
        plan.files.append({file.path, file.size, file.format, file.sha256, file.piece_sha256});
    return plan;
}

void package_change::found(const QString &message, const QString &detail)
{
    const QMutexLocker lock(&mutex);
    if (seen)
        return;
    seen = true;
    first_message = message;
    first_detail = detail;
}

bool package_change::known() const
{
    const QMutexLocker lock(&mutex);
    return seen;
}

QString package_change::message() const
{
    const QMutexLocker lock(&mutex);
    return first_message;
}

QString package_change::detail() const
{
    const QMutexLocker lock(&mutex);
    return first_detail;
}

upgrade_outcome run_upgrade(tcp_device &device, const upgrade_plan &plan,
                            upgrade_observer &observer, const stop_token &stop)
{
    for (int index = 0; index < plan.files.size(); ++index) {
        if (stop.stop_requested())
            return interrupted(device);
        sent_file sent;
        file_run run(device, plan, index, observer, stop);
        const QString message = run.send(sent);
        if (run.stopped)
            return interrupted(device);
        if (run.changed_here)
            plan.change->found(message, run.detail);
        if (!message.isEmpty())
            return {run.withheld ? upgrade_outcome::withheld : upgrade_outcome::failed, message,
                    run.detail};
        observer.file_finished(index, sent);
    }
    if (stop.stop_requested())
        return interrupted(device);
    qDebug() << "upgrade finished, Lidar power off";
    qDebug() << "don't pull the power plug up until indicator runout, please!!!";
    device.send_cmd_shutdown();
    return {};
}
