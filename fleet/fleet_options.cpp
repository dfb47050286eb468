#include "fleet/fleet_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTextStream>
#include <utility>

#include "base/console.h"
#include "base/paths.h"
#include "device/replies.h"
#include "device/sensor_connect.h"
#include "fleet/address_range.h"
#include "fleet/fleet_record.h"

namespace
{

using options_result = read_result<fleet_options>;

const char *const usage =
    "Usage:\n"
    "  corvalen                  open the window\n"
    "  corvalen --package DIR [--config FILE] [--trusted-keys FILE] [--jobs N]\n"
    "           [--record FILE] [--allow-downgrade] [--reinstall] [--verify SECONDS]\n"
    "           [--canary N] [--max-failures N] [--max-rate RATE] [--retry RECORD]\n"
    "           [--sensors FILE] [ADDRESS...]\n"
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
    "a /32 keep both of theirs). A range names at most 1024 addresses. An address of a range\n"
    "where nothing answers the connection (refused, reset, or no answer within 3 s) is no\n"
    "sensor: it is empty, counted apart and never fails the run. An address named by itself\n"
    "(an argument, a line of --sensors or --retry) that does not answer fails.\n"
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
    "                     --check, keep up to N links open at a time (default: as many as\n"
    "                     the open-file limit carries)\n"
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
    "                     version; another version counts once the sensor was seen down\n"
    "                     since \"shutdown\"\n"
    "  --canary N         upgrade the first N sensors alone; the others start only if all N\n"
    "                     were upgraded (and verified, with --verify) or skipped\n"
    "  --max-failures N   dial no further sensor once N sensors have failed\n"
    "  --max-rate RATE    send the images of the whole run together at no more than RATE\n"
    "                     bytes a second, shared fairly between the sensors streaming; k is\n"
    "                     1000 and M 1000000 (--max-rate 20M: 20 MB/s, 160 Mbit/s)\n"
    "  --retry RECORD     also the sensors whose latest line in RECORD is not upgraded,\n"
    "                     skipped, current or empty, first, in the order they appear there;\n"
    "                     RECORD may be this run's --record. Given more than once, the\n"
    "                     records are read in turn as one\n"
    "  --sensors FILE     more addresses, one a line; '#' starts a comment; may be given more\n"
    "                     than once. A sensor listed more than once, in any spelling, is\n"
    "                     dialled once\n"
    "  --help             this text\n"
    "  --version          the tool's version\n"
    "\n"
    "Every other option may be given once.\n"
    "\n"
    "Progress goes to standard error, one line per sensor and step, and a summary at the end.\n"
    "Ctrl+C once: no further sensor is dialled and the links waiting for their turn are\n"
    "closed (interrupted); a sensor whose files are streaming gets the rest of them and is\n"
    "verified, a check under way ends. Twice: every running sensor stops at once, its link\n"
    "reset, and is recorded interrupted. A hang-up or SIGTERM counts as twice.\n"
    "\n"
    "Results: upgraded, skipped (already at the package's version), failed, interrupted,\n"
    "not_started (held back by --canary or --max-failures, or a package file that changed\n"
    "during the run), empty (an address of a range where nothing answered); with --check:\n"
    "current, outdated, refused, unreachable, found, interrupted, empty.\n"
    "\n"
    "Exit status: 0 every sensor upgraded or skipped (with --check: every sensor current,\n"
    "or found when no package is given), empty addresses aside; 1 otherwise; 2 bad arguments\n"
    "or a broken package (nothing dialled).\n";

// Checks every address and replaces every range with its addresses, noting which addresses only
// a range named. What is wrong with one names its place, when it came from a file.
options_result expand_ranges(const QVector<listed_address> &listed, fleet_options options)
{
    QStringList named;
    for (const listed_address &address : listed) {
        const QString place = address.origin.isEmpty() ? QString() : address.origin + ": ";
        if (!is_address_range(address.text)) {
            if (!is_valid_ipv4_text(address.text))
                return options_result::failed(place + address.text + ": " +
                                              invalid_address_message().remove('\r'));
            options.addresses << address.text;
            named << QHostAddress(ipv4_of(address.text)).toString();
            continue;
        }
        const read_result<QStringList> range = addresses_of_range(address.text);
        if (!range)
            return options_result::failed(place + range.failure);
        options.addresses << *range.value;
        for (const QString &each : *range.value)
            options.ranged.insert(each);
    }
    for (const QString &address : qAsConst(named))
        options.ranged.remove(address);
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

// --max-rate's bytes a second: digits, then k (1000) or M (1000000) if wanted; at least 1.
bool read_rate(const QCommandLineParser &parser, qint64 &rate)
{
    if (!parser.isSet("max-rate"))
        return true;
    const QRegularExpressionMatch match =
        QRegularExpression("^([0-9]{1,12})([kM]?)$").match(parser.value("max-rate"));
    if (!match.hasMatch())
        return false;
    const qint64 unit = match.captured(2) == "k" ? 1000 : match.captured(2) == "M" ? 1000000 : 1;
    rate = match.captured(1).toLongLong() * unit;
    return rate >= 1;
}

// Each sensor is dialled once, however often and in whatever spelling it is listed.
fleet_options without_repeats(fleet_options options)
{
    QHash<quint32, QString> listed;
    QStringList once;
    for (const QString &address : qAsConst(options.addresses)) {
        const quint32 sensor = ipv4_of(address);
        if (listed.contains(sensor)) {
            write_error_line(address +
                             (listed[sensor] == address
                                  ? ": listed twice"
                                  : ": the same sensor as " + listed[sensor]) +
                             ", dialled once");
            continue;
        }
        listed.insert(sensor, address);
        once << address;
    }
    options.addresses = once;
    return options;
}

// The sensors the records leave to do come first, then the arguments, then the sensors files;
// records and sensors files each in the order given.
options_result gather_addresses(const QCommandLineParser &parser, fleet_options options)
{
    QVector<listed_address> listed;
    if (parser.isSet("retry")) {
        const read_result<retry_list> left = sensors_to_retry(parser.values("retry"));
        if (!left)
            return options_result::failed(left.failure);
        for (const QString &note : left.value->notes)
            write_error_line(note);
        listed = left.value->addresses;
    }
    for (const QString &argument : parser.positionalArguments())
        listed.append({argument, {}});
    for (const QString &path : parser.values("sensors")) {
        const read_result<QVector<listed_address>> read = read_sensors(path);
        if (!read)
            return options_result::failed(read.failure);
        listed += *read.value;
    }
    if (listed.isEmpty())
        return options_result::failed("error: no sensor address given!");
    const options_result expanded = expand_ranges(listed, options);
    return expanded ? options_result::ok(without_repeats(*expanded.value)) : expanded;
}

options_result sensor_options(const QCommandLineParser &parser, fleet_options options)
{
    const bool check = options.what == fleet_options::check;
    // A check holds no streaming slot: without --jobs, the open-file limit alone bounds it.
    if (check)
        options.jobs = 0;
    const std::pair<const char *, int *> counts[] = {{"jobs", &options.jobs},
                                                     {"verify", &options.verify_seconds},
                                                     {"canary", &options.canary},
                                                     {"max-failures", &options.max_failures}};
    for (const auto &count : counts)
        if (!read_count(parser, count.first, *count.second))
            return options_result::failed(
                QString("error: --%1 takes a whole number of at least 1!").arg(count.first));
    if (!read_rate(parser, options.max_rate))
        return options_result::failed("error: --max-rate takes bytes a second, a whole number of "
                                      "at least 1, with k (1000) or M (1000000) if wanted!");
    for (const char *sending : {"reinstall", "verify", "canary", "max-failures", "max-rate"})
        if (check && parser.isSet(sending))
            return options_result::failed(
                QString("error: --check sends nothing; --%1 is for --package alone!").arg(sending));
    options.record = parser.value("record");
    options.allow_downgrade = parser.isSet("allow-downgrade");
    options.reinstall = parser.isSet("reinstall");
    return gather_addresses(parser, options);
}

// What is wrong with the arguments the parser refused: an unknown option as it was typed.
QString parse_failure(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return "error: " + parser.errorText();
    for (const QString &argument : arguments.mid(1))
        if (argument.startsWith('-') &&
            argument.section('=', 0, 0).remove(QRegularExpression("^--?")) == unknown.first())
            return "error: unknown option " + argument;
    return "error: unknown option " + unknown.first();
}

} // namespace

read_result<QVector<listed_address>> read_sensors(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return read_result<QVector<listed_address>>::failed("error: cannot read sensors file " +
                                                            path + "!");
    QTextStream stream(&file);
    QVector<listed_address> listed;
    for (int number = 1; !stream.atEnd(); ++number) {
        const QString line = stream.readLine().section('#', 0, 0).trimmed();
        if (!line.isEmpty())
            listed.append({line, QString("%1:%2").arg(path).arg(number)});
    }
    return read_result<QVector<listed_address>>::ok(listed);
}

QString fleet_usage()
{
    return usage;
}

options_result parse_fleet_options(const QStringList &arguments)
{
    QCommandLineParser parser;
    // "-127.0.0.1" is one unknown option, not eleven of one letter each.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
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
                       {"max-rate", "", "RATE"},
                       {"help", ""},
                       {"version", ""}});
    if (!parser.parse(arguments))
        return options_result::failed(parse_failure(parser, arguments));
    const QStringList given = parser.optionNames();
    for (const QString &name : given)
        if (name != "sensors" && name != "retry" && given.count(name) > 1)
            return options_result::failed("error: --" + name + " given twice");
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
