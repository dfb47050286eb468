#include "fleet/fleet_mode.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <cstdio>

#include "base/console.h"
#include "cipher/crypt_file.h"
#include "device/descriptor_limit.h"
#include "fleet/console_report.h"
#include "fleet/fleet_options.h"
#include "fleet/fleet_package.h"
#include "fleet/fleet_run.h"
#include "fleet/fleet_summary.h"
#include "fleet/interrupts.h"
#include "package/package_file.h"

namespace
{

// Every line the tool writes goes to standard error as it is; a run gives each sensor's its
// address.
void console_message(QtMsgType, const QMessageLogContext &, const QString &text)
{
    write_error_line(text);
}

void cipher_line(const char *line)
{
    write_error_line(QString::fromLocal8Bit(line));
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

// As many at once as asked (0: as many as carried), and as the descriptors carry.
int jobs_carried(int jobs, int carried)
{
    if (jobs == 0)
        return carried;
    if (jobs <= carried)
        return jobs;
    write_error_line(QString("note: the open-file limit carries %1 links at once; %1 jobs "
                             "instead of %2")
                         .arg(carried)
                         .arg(jobs));
    return carried;
}

// What each sensor is given: the package, if any, and the options' rules.
QVector<sensor_task> sensor_tasks(const fleet_options &options, const checked_package *package)
{
    const upgrade_plan plan = package ? plan_of(*package) : upgrade_plan();
    QVector<sensor_task> tasks;
    for (const QString &address : options.addresses) {
        sensor_task task = package_task(address, package, plan);
        task.allow_downgrade = options.allow_downgrade;
        task.reinstall = options.reinstall;
        task.verify_seconds = options.verify_seconds;
        task.ranged = options.ranged.contains(address);
        tasks.append(task);
    }
    return tasks;
}

// Upgrades or checks the sensors, told on the console and in the record; the exit code.
int run_sensors(const fleet_options &options, const checked_package *package)
{
    const qint64 descriptors = raise_descriptor_limit();
    const bool check = options.what == fleet_options::check;
    const int jobs = jobs_carried(options.jobs, check ? links_within(descriptors, 0)
                                                      : streams_within(descriptors));
    const int links = links_within(descriptors, check ? 0 : jobs);
    record_writer record(stamp_of(package));
    const QString unwritable = options.record.isEmpty() ? QString() : record.open(options.record);
    if (!unwritable.isEmpty()) {
        write_error_line(unwritable);
        return 2;
    }
    count_interrupts();
    // No further sensor is dialled after an interrupt or a record line lost; the running ones stop
    // at the second interrupt.
    const fleet_stops stops{stop_token(dialling_interrupted(), record.lost_line()),
                            stop_token(links_interrupted())};
    console_report console(record);
    const QVector<sensor_task> tasks = sensor_tasks(options, package);
    const QVector<sensor_record> records =
        check
            ? check_sensors(tasks, jobs, stops, console)
            : upgrade_sensors(tasks,
                              {jobs, links, options.canary, options.max_failures, options.max_rate},
                              stops, console);
    write_error_line("\n" + summary_table(records));
    interrupts_handled();
    return all_done(records) && !record.lost_line() ? 0 : 1;
}

} // namespace

int run_fleet_mode(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(console_message);
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
    const read_result<checked_package> package = read_fleet_package(
        options.value->package_dir, options.value->config, options.value->trusted_keys);
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
