#include "upgrade/version_gate.h"

#include <QtDebug>

#include "package/update_list.h"
#include "package/version.h"

namespace
{

QString quoted(const QString &text)
{
    return "\"" + text + "\"";
}

} // namespace

outcome version_gate(const QString &device_version, const QString &package_version,
                     const QList<QStringList> &update_list)
{
    if (package_version.isEmpty() || device_version.isEmpty())
        return outcome(outcome_kind::refused,
                       "error: empty version detect, please check. \r\ncurrent version " +
                           quoted(device_version) + ", new version " + quoted(package_version));
    if (!group_permits(update_list, device_version, package_version))
        return outcome(outcome_kind::refused, "error: update from " + device_version + " to " +
                                                  package_version + " is forbidden");
    return {};
}

bool is_downgrade(const QString &device_version, const QString &package_version)
{
    return version_number(device_version) > version_number(package_version);
}

bool announce_upgrade(const QString &device_version, const QString &package_version)
{
    const int current = version_number(device_version);
    const int next = version_number(package_version);
    qDebug() << "\nUpgrade from" << device_version << "to" << package_version << "(" << current
             << "to" << next << ")\n";
    return is_downgrade(device_version, package_version);
}

QString downgrade_question(const QString &device_version, const QString &package_version)
{
    return "Upgrade from high version(" + device_version + ")to low version(" + package_version +
           ")\r\nAre you sure?";
}
