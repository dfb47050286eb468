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

    // Ok once the sensor acknowledged the image.
    outcome send(sent_file &sent)
    {
        qDebug() << "open file" << entry.path;
        QFile file(entry.path);
        if (!file.open(QIODevice::ReadOnly))
            return package_failure("error: file open failed!", entry.path,
                                   open_failure_detail(file));
        qDebug() << "\t--ok";
        const outcome announced = announce();
        if (!announced.is_ok())
            return announced;
        qDebug() << "send file data";
        observer.image_started(index);
        QElapsedTimer clock;
        clock.start();
        const outcome streamed = send_image(sent.sha256);
        if (!streamed.is_ok())
            return streamed;
        sent.seconds = clock.nsecsElapsed() / 1e9;
        qDebug() << "\t--ok";
        qDebug() << "upgrade" << entry.path;
        // The link was up for the whole image: lost by now, whenever the loss was noticed, it
        // is the sensor not acknowledging the image.
        if (device.recv_ack(4, 0, stop) != 0) {
            device.abort();
            return outcome(outcome_kind::failed, "rror: Lidar not prepared!");
        }
        qDebug() << "\t--ok";
        sent.name = file_name;
        sent.bytes = length;
        return {};
    }

private:
    // Reads the padding count, checks what will be announced, sends "download" and awaits its
    // acknowledgement.
    outcome announce()
    {
        const read_result<int> image = image_length(entry.path, plan.package_dir, entry.size);
        if (!image)
            return package_failure(image.failure, companion_path(plan.package_dir, file_name));
        length = *image.value;
        // The last look before the sensor is told anything: a change another run found holds
        // back a sensor that was sent nothing yet.
        if (plan.change->known())
            return index == 0 ? outcome(outcome_kind::held_back, plan.change->message())
                              : change_found_elsewhere();

        qDebug() << "send upgrade command";
        const outcome sent =
            device_outcome(device.send_cmd_download(file_name, entry.format, length),
                           "error: command send failed!");
        if (!sent.is_ok())
            return sent;
        qDebug() << "\t--ok";
        qDebug() << "Lidar is preparing";
        const outcome prepared =
            device_outcome(device.recv_ack(4, 0, stop), "error: Lidar not prepared!");
        if (!prepared.is_ok())
            return prepared;
        qDebug() << "\t--ok";
        return {};
    }

    // A package file that no longer reads as checked: the package changed. One that did not
    // open for want of a descriptor says so instead, since the package may be whole.
    static outcome package_failure(const QString &message, const QString &path,
                                   const QString &detail = {})
    {
        if (out_of_descriptors())
            return outcome(outcome_kind::out_of_descriptors, descriptor_shortage(path), detail);
        return outcome(outcome_kind::package_changed, message, detail);
    }

    outcome change_found_elsewhere() const
    {
        return outcome(outcome_kind::package_changed, plan.change->message(),
                       plan.change->detail());
    }

    // Streams the image; a failure resets the link, since the sensor still waits for bytes
    // that will not come, nothing it says later may be taken as an answer, and nothing still
    // queued may reach it.
    outcome send_image(QByteArray &sha256)
    {
        const outcome streamed = stream_image(sha256);
        if (!streamed.is_ok())
            reset_link(device);
        return streamed;
    }

    outcome stream_image(QByteArray &sha256)
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
            entry.piece_sha256, plan.cap.get());
        crypt_stream_close(&image);
        // Every piece sent was checked against the plan's: the bytes sent are the ones it hashed.
        sha256 = entry.sha256;
        switch (result) {
        case image_result::sent:
            observer.image_progress(index, length, length);
            return {};
        case image_result::file_changed:
            return outcome(outcome_kind::package_changed, changed_message(file_name));
        case image_result::no_memory:
            return outcome(outcome_kind::failed, "Decried memory is NULL");
        case image_result::stopped:
            return plan.change->known() ? change_found_elsewhere()
                                        : outcome(outcome_kind::interrupted);
        case image_result::stalled:
            break;
        }
        return outcome(outcome_kind::failed, "rror: Lidar not prepared!");
    }

    tcp_device &device;
    const upgrade_plan &plan;
    const plan_file &entry;
    const int index;
    upgrade_observer &observer;
    const stop_token stop;
    const QString file_name;
    int length = 0;
};

// Ends a run between its steps: the link is reset as after a failed image.
outcome interrupted(tcp_device &device)
{
    reset_link(device);
    return outcome(outcome_kind::interrupted);
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

outcome run_upgrade(tcp_device &device, const upgrade_plan &plan, upgrade_observer &observer,
                    const stop_token &stop)
{
    for (int index = 0; index < plan.files.size(); ++index) {
        if (stop.stop_requested())
            return interrupted(device);
        sent_file sent;
        const outcome file = file_run(device, plan, index, observer, stop).send(sent);
        if (file.kind == outcome_kind::interrupted)
            return interrupted(device);
        // Found here or not, the change is one fact for every run of the plan.
        if (file.kind == outcome_kind::package_changed)
            plan.change->found(file.message(), file.detail);
        if (!file.is_ok())
            return file;
        observer.file_finished(index, sent);
    }
    if (stop.stop_requested())
        return interrupted(device);
    qDebug() << "upgrade finished, Lidar power off";
    qDebug() << "don't pull the power plug up until indicator runout, please!!!";
    device.send_cmd_shutdown();
    return {};
}
