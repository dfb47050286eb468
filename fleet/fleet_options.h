#ifndef FLEET_OPTIONS_H
#define FLEET_OPTIONS_H

#include <QSet>
#include <QString>
#include <QStringList>

#include "fleet/fleet_record.h"
#include "package/read_result.h"

// What the command line asks for.
struct fleet_options {
    enum action { upgrade, check, inspect, help, version };
    action what = upgrade;
    QString package_dir;  // with check: empty when the sensors are checked against no package
    QString config;       // the settings file
    QString trusted_keys; // the trust store; empty: the working directory's, if there is one
    int jobs = 8;   // with check: links open at once, 0 as many as the open-file limit carries
    QString record; // empty: no record
    bool allow_downgrade = false;
    bool reinstall = false;
    int verify_seconds = 0; // 0: no verification
    int canary = 0;
    int max_failures = 0; // 0: no limit
    qint64 max_rate = 0;  // image bytes a second of the whole run; 0: no cap
    QStringList addresses;
    QSet<QString> ranged; // the addresses that a range named
};

// The options of the arguments (the program's name first), or the one line that says what is
// wrong with them. The settings file defaults to "config" in the working directory.
read_result<fleet_options> parse_fleet_options(const QStringList &arguments);

// The addresses of a sensors file, each with its place: one a line, "#" comments and blank
// lines skipped.
read_result<QVector<listed_address>> read_sensors(const QString &path);

// The whole usage text.
QString fleet_usage();

#endif
