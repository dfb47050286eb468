#include "fleet/fleet_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QTextStream>
#include <utility>

#include "app/console.h"
#include "app/paths.h"
#include "device/replies.h"
#include "device/sensor_connect.h"
#include "fleet/address_range.h"
#include "fleet/fleet_report.h"

namespace
{

using options_result = read_result<fleet_options>;

// A check mostly waits (the log read's final 3 s), so more run at once than images stream.
const int check_jobs = 32;

const char *const usage =
    "Usage:\n"
    "  corvalen                  open the window\n"
    "  corvalen --package DIR [--config FILE] [--trusted-keys FILE] [--jobs N]\n"
    "           [--record FILE] [--allow-downgrade] [--reinstall] [--verify SECONDS]\n"
    "           [--canary N] [--max-failures N] [--retry RECORD] [--sensors FILE]\n"
    "           [ADDRESS...]\n"
    "  corvalen --check [--package DIR] [--config FILE] [--trusted-keys FILE] [--jobs N]\n"
    "           [--record FILE] [--allow-downgrade] [--retry RECORD] [--sensors FILE]\n"
    "           [ADDRESS...]\n"
    "  corvalen --inspect DIR [--config FILE] [--trusted-keys FILE]\n"
    "  corvalen --help | --version\n"
    "\n"
    "Upgrades the sensors at the given IPv4 addresses (port 50661) with the package in DIR,\n"
    "without a window. The package is read and every image decrypted before any sensor is\n"
    "dialled; then each sensor is connected, its version read and checked against the\n"
    "package's update list, its files sent and the sensor told to shut down.\n"
    "\n"
    "An ADDRESS is A.B.C.D, a range A.B.C.D-E (the last number from D to E) or a network\n"
    "A.B.C.D/N with N from 22 to 32, without its network and broadcast address (a /31 and\n"
    "a /32 keep both of theirs). A range names at most 1024 addresses.\n"
    "\n"
    "Options:\n"
    "  --package DIR      the package directory to send\n"
    "  --check            send nothing: connect, read the log and version as an upgrade\n"
    "                     does, and close. With --package each sensor is current (at the\n"
    "                     package's version), outdated (the package would be sent), refused\n"
    "                     (the update list or the downgrade rule would refuse it) or\n"
    "                     unreachable; without, found or unreachable\n"
    "  --inspect DIR      print the package as the upgrade sees it; dial nothing\n"
    "  --config FILE      the settings file naming the package files (default: config in\n"
    "                     the working directory)\n"
    "  --trusted-keys FILE  minisign public keys a package must be signed by (default:\n"
    "                     trusted_keys in the working directory, if it is there): its\n"
    "                     manifest.minisig must verify with one of them, and its manifest\n"
    "                     must match it, before any sensor is dialled\n"
    "  --jobs N           stream images to up to N sensors at a time (default 8); with\n"
    "                     --check, check up to N sensors at a time (default 32)\n"
    "  --record FILE      append one JSON line per sensor as it ends, its keys in this order:\n"
    "                     address, old_version, new_version, verified_version (null without\n"
    "                     --verify), result, message (as the window shows it), detail (what\n"
    "                     it is about: a path and the system's reason, or null), files (each:\n"
    "                     name, bytes, sha256, seconds streaming), started, seconds,\n"
    "                     package (the SHA-256 of its manifest, or of the manifest it would\n"
    "                     have; null without one), signed_by (the trusted key ID, or null),\n"
    "                     tool (this tool's version)\n"
    "  --allow-downgrade  also send the package to sensors with a newer version\n"
    "  --reinstall        also send it to sensors that already have its version\n"
    "  --verify SECONDS   after \"shutdown\", wait up to SECONDS for the sensor to restart and\n"
    "                     read its version again: upgraded only if it runs the package's\n"
    "                     version\n"
    "  --canary N         upgrade the first N sensors alone; the others start only if all N\n"
    "                     were upgraded (and verified, with --verify) or skipped\n"
    "  --max-failures N   dial no further sensor once N sensors have failed\n"
    "  --retry RECORD     also the sensors whose latest line in RECORD is not upgraded,\n"
    "                     skipped or current, first, in the order they appear there;\n"
    "                     RECORD may be this run's --record\n"
    "  --sensors FILE     more addresses, one a line; '#' starts a comment. A sensor listed\n"
    "                     more than once, in any spelling, is dialled once\n"
    "  --help             this text\n"
    "  --version          the tool's version\n"
    "\n"
    "Progress goes to standard error, one line per sensor and step, and a summary at the end.\n"
    "Ctrl+C once: no further image starts, running ones finish. Twice: running ones are\n"
    "stopped and recorded as interrupted.\n"
    "\n"
    "Results: upgraded, skipped (already at the package's version), failed, interrupted,\n"
    "not_started (held back by --canary or --max-failures); with --check: current,\n"
    "outdated, refused, unreachable, found.\n"
    "\n"
    "Exit status: 0 every sensor upgraded or skipped (with --check: every sensor current,\n"
    "or found when no package is given), 1 otherwise, 2 bad arguments or a broken package\n"
    "(nothing dialled).\n";

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

// Replaces every range with its addresses, noting which addresses only a range named.
options_result expand_ranges(fleet_options options)
{
    QStringList addresses, named;
    for (const QString &text : qAsConst(options.addresses)) {
        if (!is_address_range(text)) {
            addresses << text;
            named << QHostAddress(ipv4_of(text)).toString();
            continue;
        }
        const read_result<QStringList> range = addresses_of_range(text);
        if (!range)
            return options_result::failed(range.failure);
        addresses << *range.value;
        for (const QString &address : *range.value)
            options.ranged.insert(address);
    }
    for (const QString &address : qAsConst(named))
        options.ranged.remove(address);
    options.addresses = addresses;
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

// The sensors a record leaves to do come first, then the arguments, then the sensors file.
options_result gather_addresses(const QCommandLineParser &parser, fleet_options options)
{
    if (parser.isSet("retry")) {
        const read_result<QStringList> left = sensors_to_retry(parser.value("retry"));
        if (!left)
            return options_result::failed(left.failure);
        options.addresses = *left.value;
    }
    options.addresses << parser.positionalArguments();
    if (parser.isSet("sensors")) {
        const options_result read = read_sensors(parser.value("sensors"), options);
        if (!read)
            return read;
        options = *read.value;
    }
    const options_result expanded = expand_ranges(options);
    const options_result checked = expanded ? check_addresses(*expanded.value) : expanded;
    return checked ? options_result::ok(without_repeats(*checked.value)) : checked;
}

options_result sensor_options(const QCommandLineParser &parser, fleet_options options)
{
    const bool check = options.what == fleet_options::check;
    if (check)
        options.jobs = check_jobs;
    const std::pair<const char *, int *> counts[] = {{"jobs", &options.jobs},
                                                     {"verify", &options.verify_seconds},
                                                     {"canary", &options.canary},
                                                     {"max-failures", &options.max_failures}};
    for (const auto &count : counts)
        if (!read_count(parser, count.first, *count.second))
            return options_result::failed(
                QString("error: --%1 takes a whole number of at least 1!").arg(count.first));
    for (const char *sending : {"reinstall", "verify", "canary", "max-failures"})
        if (check && parser.isSet(sending))
            return options_result::failed(
                QString("error: --check sends nothing; --%1 is for --package alone!").arg(sending));
    options.record = parser.value("record");
    options.allow_downgrade = parser.isSet("allow-downgrade");
    options.reinstall = parser.isSet("reinstall");
    return gather_addresses(parser, options);
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
                       {"check", ""},
                       {"inspect", "", "DIR"},
                       {"config", "", "FILE", join_path(QDir::currentPath(), "config")},
                       {"trusted-keys", "", "FILE"},
                       {"jobs", "", "N"},
                       {"record", "", "FILE"},
                       {"allow-downgrade", ""},
                       {"reinstall", ""},
                       {"retry", "", "RECORD"},
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
    options.trusted_keys = parser.value("trusted-keys");
    if (parser.isSet("help") || parser.isSet("version")) {
        options.what = parser.isSet("help") ? fleet_options::help : fleet_options::version;
        return options_result::ok(options);
    }
    const bool dials = parser.isSet("package") || parser.isSet("check");
    if (parser.isSet("inspect") == dials)
        return options_result::failed("error: give either --package DIR, --check or --inspect "
                                      "DIR; see --help!");
    if (parser.isSet("inspect")) {
        options.what = fleet_options::inspect;
        options.package_dir = parser.value("inspect");
        if (!parser.positionalArguments().isEmpty())
            return options_result::failed("error: --inspect dials no sensor!");
        return options_result::ok(options);
    }
    options.what = parser.isSet("check") ? fleet_options::check : fleet_options::upgrade;
    options.package_dir = parser.value("package");
    return sensor_options(parser, options);
}
