#include "fleet/fleet_mode.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QtGlobal>
#include <cstdio>

#include "base/console.h"
#include "cipher/crypt_file.h"
#include "device/descriptor_limit.h"
#include "device/tcp_device.h"
#include "fleet/fleet_options.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_schedule.h"
#include "fleet/interrupts.h"
#include "fleet/site_check.h"
#include "package/package_check.h"
#include "package/package_file.h"
#include "package/settings_reader.h"
#include "package/trusted_keys.h"
#include "upgrade/sensor_run.h"

namespace
{

fleet_report *report = nullptr;

// A worker thread is named after the sensor it serves, whose console lines carry the address.
void sensor_lines(const QString &text)
{
    const QString lines = prefixed_lines(QThread::currentThread()->objectName(), text);
    if (report)
        report->line(lines);
    else
        write_error_line(lines);
}

void prefixed_message(QtMsgType, const QMessageLogContext &, const QString &text)
{
    sensor_lines(text);
}

void cipher_line(const char *line)
{
    sensor_lines(QString::fromLocal8Bit(line));
}

// The signature's lines of --inspect.
QString signature_lines(const package_signature &signature)
{
    if (signature.key_id.isEmpty())
        return "signature none\n";
    return "signature by key " + signature.key_id +
           (signature.state == package_signature::trusted
                ? ", trusted"
                : ", not verified: no trusted keys given") +
           "\ntrusted comment " + signature.trusted_comment + "\n";
}

void print_package(const checked_package &package)
{
    std::printf("package %s\nsha256 %s\n%sversion %s\nupdate groups:\n", qPrintable(package.dir),
                package.identity.toHex().constData(),
                qPrintable(signature_lines(package.signature)), qPrintable(package.version));
    for (const QStringList &group : package.update_list)
        std::printf("  {%s}\n", qPrintable(group.join(',')));
    std::printf("files:\n");
    for (const checked_file &file : package.files)
        std::printf("  %s  size %lld  format %d  padding %d  image %d  sha256 %s\n",
                    qPrintable(bare_name(file.path)), file.size, file.format, file.padding,
                    file.length, file.sha256.toHex().constData());
    std::fflush(stdout);
}

// A download command longer than its frame would reach the sensor unpadded.
QString frame_refusal(const QString &name, int format, int length)
{
    const int text = download_text_size(name, format, length);
    if (text <= command_frame_size)
        return {};
    return "error: the download command for " + name + " takes " + QString::number(text) +
           " bytes, more than its frame's " + QString::number(command_frame_size) + "!";
}

// Reads and checks the package the options name; the failure's lines when it is broken.
read_result<checked_package> read_checked_package(const fleet_options &options)
{
    const auto settings = settings_reader().read_config(options.config);
    if (!settings) {
        QFile unread(options.config);
        unread.open(QIODevice::ReadOnly);
        return read_result<checked_package>::failed(settings.failure + " (" +
                                                    open_failure_detail(unread) + ")");
    }
    const auto trusted = options.trusted_keys.isEmpty()
                             ? working_trusted_keys()
                             : std::make_optional(read_trusted_keys(options.trusted_keys));
    if (trusted && !*trusted) {
        qDeleteAll(*settings.value);
        return read_result<checked_package>::failed(trusted->failure);
    }
    check_rules rules;
    rules.mode = check_rules::fleet;
    rules.announceable = frame_refusal;
    rules.trusted = trusted ? &*trusted->value : nullptr;
    const auto package = check_package(options.package_dir, listed_now(*settings.value), rules);
    qDeleteAll(*settings.value);
    return package;
}

// What every record line says of the package.
package_stamp stamp_of(const checked_package *package)
{
    if (!package)
        return {};
    const bool trusted = package->signature.state == package_signature::trusted;
    return {package->identity.toHex(), trusted ? package->signature.key_id : QString()};
}

// As many sensors at once as asked, and as the links the descriptors carry.
int jobs_carried(int jobs, int carried)
{
    if (jobs <= carried)
        return jobs;
    write_error_line(QString("note: the open-file limit carries %1 links at once; %1 jobs "
                             "instead of %2")
                         .arg(carried)
                         .arg(jobs));
    return carried;
}

bool upgrade_fleet(const fleet_options &options, const checked_package &package,
                   const fleet_rules &rules, const fleet_stops &stops, fleet_report &lines)
{
    const upgrade_plan plan = plan_of(package);
    QVector<sensor_task> tasks;
    for (const QString &address : options.addresses)
        tasks.append({address, package.version, package.update_list, plan, options.allow_downgrade,
                      options.reinstall, options.verify_seconds, options.ranged.contains(address)});
    run_fleet_schedule(tasks, rules, stops, lines);
    return lines.summarise();
}

// Upgrades or checks the sensors, each line through the report; the exit code.
int run_sensors(const fleet_options &options, const checked_package *package)
{
    const int links = raise_descriptor_limit();
    const int jobs = jobs_carried(options.jobs, links);
    fleet_report lines(stamp_of(package));
    const QString unwritable =
        options.record.isEmpty() ? QString() : lines.open_record(options.record);
    if (!unwritable.isEmpty()) {
        write_error_line(unwritable);
        return 2;
    }
    report = &lines;
    count_interrupts();
    // No further sensor is dialled after an interrupt or a record line lost; the running ones stop
    // at the second interrupt.
    const fleet_stops stops{stop_token(dialling_interrupted(), lines.lost_line()),
                            stop_token(links_interrupted())};
    // Qt registers a socket's types when the first one is made; making it here keeps the
    // workers from racing to do so.
    delete new tcp_device;
    const bool all_good =
        options.what == fleet_options::check
            ? check_site(options, package, jobs, stops, lines)
            : upgrade_fleet(options, *package, {jobs, links, options.canary, options.max_failures},
                            stops, lines);
    report = nullptr;
    interrupts_handled();
    return all_good ? 0 : 1;
}

} // namespace

int run_fleet_mode(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(prefixed_message);
    crypt_set_output(cipher_line);
    const read_result<fleet_options> options = parse_fleet_options(app.arguments());
    if (!options) {
        write_error_line(options.failure);
        return 2;
    }
    if (options.value->what == fleet_options::help ||
        options.value->what == fleet_options::version) {
        std::printf("%s", options.value->what == fleet_options::help ? qPrintable(fleet_usage())
                                                                     : "corvalen " CORVALEN_VERSION
                                                                       "\n");
        return 0;
    }
    if (options.value->what == fleet_options::check && options.value->package_dir.isEmpty())
        return run_sensors(*options.value, nullptr);
    const read_result<checked_package> package = read_checked_package(*options.value);
    if (!package) {
        write_error_line(package.failure);
        return 2;
    }
    if (options.value->what == fleet_options::inspect) {
        print_package(*package.value);
        return 0;
    }
    if (package.value->signature.state != package_signature::trusted)
        write_error_line(unsigned_note(package.value->signature));
    return run_sensors(*options.value, &*package.value);
}
