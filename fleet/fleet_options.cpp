#include "fleet/fleet_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTextStream>
#include <utility>

#include "app/console.h"
#include "app/paths.h"
#include "device/replies.h"
#include "device/sensor_connect.h"

namespace
{

using options_result = read_result<fleet_options>;

const char *const usage =
    "Usage:\n"
    "  corvalen                  open the window\n"
    "  corvalen --package DIR [--config FILE] [--jobs N] [--record FILE]\n"
    "           [--allow-downgrade] [--reinstall] [--verify SECONDS] [--canary N]\n"
    "           [--max-failures N] [--sensors FILE] [ADDRESS...]\n"
    "  corvalen --inspect DIR [--config FILE]\n"
    "  corvalen --help | --version\n"
    "\n"
    "Upgrades the sensors at the given IPv4 addresses (port 50661) with the package in DIR,\n"
    "without a window. The package is read and every image decrypted before any sensor is\n"
    "dialled; then each sensor is connected, its version read and checked against the\n"
    "package's update list, its files sent and the sensor told to shut down.\n"
    "\n"
    "Options:\n"
    "  --package DIR      the package directory to send\n"
    "  --inspect DIR      print the package as the upgrade sees it; dial nothing\n"
    "  --config FILE      the settings file naming the package files (default: config in\n"
    "                     the working directory)\n"
    "  --jobs N           stream images to up to N sensors at a time (default 8); the\n"
    "                     versions of the sensors ahead are read meanwhile\n"
    "  --record FILE      append one JSON line per sensor as it ends, its keys in this order:\n"
    "                     address, old_version, new_version, result (upgraded, skipped,\n"
    "                     failed, interrupted, not_started), message (as the window shows\n"
    "                     it), detail (what it is about: a path and the system's reason, or\n"
    "                     null), files (each: name, bytes, sha256, seconds streaming),\n"
    "                     started, seconds, verified_version (or null)\n"
    "  --allow-downgrade  also send the package to sensors with a newer version\n"
    "  --reinstall        also send it to sensors that already have its version\n"
    "  --verify SECONDS   after \"shutdown\", wait up to SECONDS for the sensor to come back\n"
    "                     and read its version: upgraded only when it runs the package's\n"
    "                     version\n"
    "  --canary N         upgrade the first N sensors alone; the rest start only when all N\n"
    "                     were upgraded\n"
    "  --max-failures N   dial no further sensor once N sensors have failed\n"
    "  --sensors FILE     more addresses, one a line; '#' starts a comment. A sensor listed\n"
    "                     more than once, in any spelling, is dialled once\n"
    "  --help             this text\n"
    "  --version          the tool's version\n"
    "\n"
    "Progress goes to standard error, one line per sensor and step, and a summary at the end.\n"
    "Ctrl+C once: no further image starts, running ones finish. Twice: running ones are\n"
    "stopped and recorded as interrupted.\n"
    "\n"
    "Exit status: 0 every sensor upgraded or skipped, 1 at least one failed, was\n"
    "interrupted or not started, 2 bad arguments or a broken package (nothing dialled).\n";

// The addresses of a sensors file: one a line, "#" comments and blank lines skipped.
options_result read_sensors(const QString &path, fleet_options options)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return options_result::failed("error: cannot read sensors file " + path + "!");
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        const QString line = stream.readLine().section('#', 0, 0).trimmed();
        if (!line.isEmpty())
            options.addresses << line;
    }
    return options_result::ok(options);
}

// The addresses must be valid, and there must be some.
options_result check_addresses(const fleet_options &options)
{
    if (options.addresses.isEmpty())
        return options_result::failed("error: no sensor address given!");
    for (const QString &address : options.addresses)
        if (!is_valid_ipv4_text(address))
            return options_result::failed(address + ": " + invalid_address_message().remove('\r'));
    return options_result::ok(options);
}

// A whole number of at least 1, when the option is given; false when it is not such a number.
bool read_count(const QCommandLineParser &parser, const QString &name, int &count)
{
    if (!parser.isSet(name))
        return true;
    bool number = false;
    count = parser.value(name).toInt(&number);
    return number && count >= 1;
}

// Each sensor is dialled once, however often and in whatever spelling it is listed.
fleet_options without_repeats(fleet_options options)
{
    QHash<quint32, QString> listed;
    QStringList once;
    for (const QString &address : qAsConst(options.addresses)) {
        const quint32 sensor = ipv4_of(address);
        if (listed.contains(sensor)) {
            write_error_line(address + ": the same sensor as " + listed[sensor] + ", dialled once");
            continue;
        }
        listed.insert(sensor, address);
        once << address;
    }
    options.addresses = once;
    return options;
}

options_result upgrade_options(const QCommandLineParser &parser, fleet_options options)
{
    const std::pair<const char *, int *> counts[] = {{"jobs", &options.jobs},
                                                     {"verify", &options.verify_seconds},
                                                     {"canary", &options.canary},
                                                     {"max-failures", &options.max_failures}};
    for (const auto &count : counts)
        if (!read_count(parser, count.first, *count.second))
            return options_result::failed(
                QString("error: --%1 takes a whole number of at least 1!").arg(count.first));
    options.record = parser.value("record");
    options.allow_downgrade = parser.isSet("allow-downgrade");
    options.reinstall = parser.isSet("reinstall");
    options.addresses = parser.positionalArguments();
    if (parser.isSet("sensors")) {
        const options_result read = read_sensors(parser.value("sensors"), options);
        if (!read)
            return read;
        options = *read.value;
    }
    const options_result checked = check_addresses(options);
    return checked ? options_result::ok(without_repeats(*checked.value)) : checked;
}

} // namespace

QString fleet_usage()
{
    return usage;
}

options_result parse_fleet_options(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({{"package", "", "DIR"},
                       {"inspect", "", "DIR"},
                       {"config", "", "FILE", join_path(QDir::currentPath(), "config")},
                       {"jobs", "", "N"},
                       {"record", "", "FILE"},
                       {"allow-downgrade", ""},
                       {"reinstall", ""},
                       {"sensors", "", "FILE"},
                       {"verify", "", "SECONDS"},
                       {"canary", "", "N"},
                       {"max-failures", "", "N"},
                       {"help", ""},
                       {"version", ""}});
    if (!parser.parse(arguments))
        return options_result::failed("error: " + parser.errorText());
    fleet_options options;
    options.config = parser.value("config");
    if (parser.isSet("help") || parser.isSet("version")) {
        options.what = parser.isSet("help") ? fleet_options::help : fleet_options::version;
        return options_result::ok(options);
    }
    if (parser.isSet("package") == parser.isSet("inspect"))
        return options_result::failed("error: give either --package DIR or --inspect DIR; see "
                                      "--help!");
    if (parser.isSet("inspect")) {
        options.what = fleet_options::inspect;
        options.package_dir = parser.value("inspect");
        if (!parser.positionalArguments().isEmpty())
            return options_result::failed("error: --inspect dials no sensor!");
        return options_result::ok(options);
    }
    options.package_dir = parser.value("package");
    return upgrade_options(parser, options);
}
