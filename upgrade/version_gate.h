#ifndef VERSION_GATE_H
#define VERSION_GATE_H

#include <QList>
#include <QString>
#include <QStringList>

#include "device/outcome.h"

// Whether the sensor's version may take the package's: ok, or refused when a version is empty
// or no group of the update list holds both.
outcome version_gate(const QString &device_version, const QString &package_version,
                     const QList<QStringList> &update_list);

// Whether the package's version number is below the sensor's.
bool is_downgrade(const QString &device_version, const QString &package_version);

// Writes the pair and their numbers to the console; true when it is a downgrade.
bool announce_upgrade(const QString &device_version, const QString &package_version);

// What the operator is asked before a downgrade (the source text of the translation).
QString downgrade_question(const QString &device_version, const QString &package_version);

#endif
