#include "fleet/fleet_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTextStream>

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
    "           [--allow-downgrade] [--reinstall] [--sensors FILE] [ADDRESS...]\n"
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
    "  --jobs N           upgrade up to N sensors at a time (default 8)\n"
    "  --record FILE      append one JSON line per sensor as it ends, its keys in this order:\n"
    "                     address, old_version, new_version, result (upgraded, skipped,\n"
    "                     failed, interrupted), message (as the window shows it), detail\n"
    "                     (what it is about: a path and the system's reason, or null), files\n"
    "                     (each: name, bytes, sha256, seconds streaming), started, seconds\n"
    "  --allow-downgrade  also send the package to sensors with a newer version\n"
    "  --reinstall        also send it to sensors that already have its version\n"
    "  --sensors FILE     more addresses, one a line; '#' starts a comment. A sensor listed\n"
    "                     more than once, in any spelling, is dialled once\n"
    "  --help             this text\n"
    "  --version          the tool's version\n"
    "\n"
    "Progress goes to standard error, one line per sensor and step, and a summary at the end.\n"
    "Ctrl+C once: no further sensor is dialled, running ones finish. Twice: running ones are\n"
    "stopped and recorded as interrupted.\n"
    "\n"
    "Exit status: 0 every sensor upgraded or skipped, 1 at least one failed or was\n"
    "interrupted, 2 bad arguments or a broken package (nothing dialled).\n";

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
    bool number = false;
    options.jobs = parser.value("jobs").toInt(&number);
    if (!number || options.jobs < 1)
        return options_result::failed("error: --jobs takes a whole number of at least 1!");
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
                       {"jobs", "", "N", "8"},
                       {"record", "", "FILE"},
                       {"allow-downgrade", ""},
                       {"reinstall", ""},
                       {"sensors", "", "FILE"},
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
