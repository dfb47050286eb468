#ifndef FLEET_PACKAGE_H
#define FLEET_PACKAGE_H

#include <QString>

#include "fleet/fleet_record.h"
#include "package/package_check.h"
#include "package/read_result.h"
#include "upgrade/sensor_run.h"

// Reads the settings file config and checks the package in dir whole by the fleet's rules,
// before any sensor is dialled: with the trust store in trusted_keys (empty: the working
// directory's, when there is one), and refusing a download command that would not fit its frame.
// The failure's lines when it is broken.
read_result<checked_package> read_fleet_package(const QString &dir, const QString &config,
                                                const QString &trusted_keys);

// What every record line of a run says of its package (null: none).
package_stamp stamp_of(const checked_package *package);

// A sensor's task with the package's version, update list and plan (null: a check against no
// package); no other option set.
sensor_task package_task(const QString &address, const checked_package *package,
                         const upgrade_plan &plan);

#endif
