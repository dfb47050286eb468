#include "fleet/fleet_package.h"

#include <QFile>

#include "device/tcp_device.h"
#include "package/package_file.h"
#include "package/settings_reader.h"
#include "package/trusted_keys.h"

namespace
{

// A download command longer than its frame would reach the sensor unpadded.
QString frame_refusal(const QString &name, int format, int length)
{
    const int text = download_text_size(name, format, length);
    if (text <= command_frame_size)
        return {};
    return "error: the download command for " + name + " takes " + QString::number(text) +
           " bytes, more than its frame's " + QString::number(command_frame_size) + "!";
}

} // namespace

read_result<checked_package> read_fleet_package(const QString &dir, const QString &config,
                                                const QString &trusted_keys)
{
    const auto settings = settings_reader().read_config(config);
    if (!settings) {
        QFile unread(config);
        unread.open(QIODevice::ReadOnly);
        return read_result<checked_package>::failed(settings.failure + " (" +
                                                    open_failure_detail(unread) + ")");
    }
    const auto trusted = trusted_keys.isEmpty()
                             ? working_trusted_keys()
                             : std::make_optional(read_trusted_keys(trusted_keys));
    if (trusted && !*trusted) {
        qDeleteAll(*settings.value);
        return read_result<checked_package>::failed(trusted->failure);
    }
    check_rules rules;
    rules.mode = check_rules::fleet;
    rules.announceable = frame_refusal;
    rules.trusted = trusted ? &*trusted->value : nullptr;
    const auto package = check_package(dir, listed_now(*settings.value), rules);
    qDeleteAll(*settings.value);
    return package;
}

package_stamp stamp_of(const checked_package *package)
{
    if (!package)
        return {};
    const bool trusted = package->signature.state == package_signature::trusted;
    return {package->identity.toHex(), trusted ? package->signature.key_id : QString()};
}

sensor_task package_task(const QString &address, const checked_package *package,
                         const upgrade_plan &plan)
{
    sensor_task task;
    task.address = address;
    if (package) {
        task.package_version = package->version;
        task.update_list = package->update_list;
        task.plan = plan;
    }
    return task;
}
