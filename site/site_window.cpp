#include "site/site_window.h"

#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QThread>

#include "base/paths.h"
#include "fleet/fleet_options.h"
#include "fleet/fleet_package.h"
#include "fleet/fleet_summary.h"
#include "gui/messages.h"
#include "package/package_file.h"
#include "package/version.h"
#include "ui_site_window.h"
#include "upgrade/version_gate.h"

namespace
{

// Rows change at most ten times a second, however fast the engine reports.
const int refresh_ms = 100;

// Runs work on a thread of its own while the window keeps painting; its result.
template <class work_kind> auto waited_off_window(work_kind work) -> decltype(work())
{
    std::optional<decltype(work())> result;
    const std::unique_ptr<QThread> thread(QThread::create([&] { result.emplace(work()); }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    return *result;
}

image_sizes images_of(const checked_package *package)
{
    image_sizes images;
    if (package)
        for (const checked_file &file : package->files)
            images.append({bare_name(file.path), file.length});
    return images;
}

// "checked, signed by KEY" or what else is known of the package's signature.
QString checked_state(const package_signature &signature)
{
    switch (signature.state) {
    case package_signature::trusted:
        return "checked, signed by " + signature.key_id;
    case package_signature::unverified:
        return "checked, signed by " + signature.key_id + " (not verified: no trusted_keys)";
    default:
        return "checked, not signed";
    }
}

} // namespace

// The rows take the table once the form has made it.
site_window::site_window(QWidget *parent)
    : QWidget(parent), ui(new Ui_site_window), rows((ui->setupUi(this), ui->tableWidget_sensors))
{
    setWindowIcon(QIcon(join_path(QDir::currentPath(), "corvalen.png")));
    refresh.setInterval(refresh_ms);
    connect(&refresh, &QTimer::timeout, this, &site_window::show_events);
    show_summary();
}

site_window::~site_window()
{
    run.reset();
    delete ui;
}

QString site_window::record_path()
{
    QDir::current().mkpath("records");
    return join_path(join_path(QDir::currentPath(), "records"),
                     "site-" + QDate::currentDate().toString("yyyyMMdd") + ".jsonl");
}

void site_window::on_pushButton_load_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Load sensors"));
    if (path.isEmpty())
        return;
    const auto listed = read_sensors(path);
    if (!listed) {
        show_error(listed.failure);
        return;
    }
    QStringList addresses;
    for (const listed_address &address : *listed.value)
        addresses << address.text;
    ui->lineEdit_sensors->setText(addresses.join(' '));
}

void site_window::on_pushButton_browse_clicked()
{
    const QString dir =
        QFileDialog::getExistingDirectory(this, tr("Package"), ui->lineEdit_package->text());
    if (!dir.isEmpty())
        ui->lineEdit_package->setText(QDir::toNativeSeparators(dir));
}

// The package's version, until the package check says more.
void site_window::on_lineEdit_package_textChanged(const QString &text)
{
    const auto version = read_version_file_text(join_path(text, "version"));
    ui->label_package_state->setText(text.isEmpty() || !version ? tr("no package")
                                                                : "version " + *version.value);
}

void site_window::on_checkBox_verify_toggled(bool checked)
{
    ui->spinBox_verify_seconds->setEnabled(checked && !busy);
}

// The package checked whole as the console checks it, the window painting meanwhile; nothing
// after the boxes that say why it is refused.
std::optional<checked_package> site_window::checked_now()
{
    const QString dir = ui->lineEdit_package->text();
    const QString config = join_path(QDir::currentPath(), "config");
    const read_result<checked_package> package =
        waited_off_window([&] { return read_fleet_package(dir, config, QString()); });
    if (!package) {
        show_errors(package.failure.split('\n'));
        return std::nullopt;
    }
    ui->label_package_state->setText("version " + package.value->version + " \u00b7 " +
                                     checked_state(package.value->signature));
    return package.value;
}

void site_window::on_pushButton_check_clicked()
{
    const QStringList typed =
        ui->lineEdit_sensors->text().split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
    // After "--" nothing typed is taken for an option.
    const read_result<fleet_options> options =
        parse_fleet_options(QStringList{"corvalen", "--check", "--"} + typed);
    if (!options) {
        show_error(options.failure);
        return;
    }
    set_busy(true);
    std::optional<checked_package> package;
    if (!ui->lineEdit_package->text().isEmpty() && !(package = checked_now())) {
        set_busy(false);
        return;
    }
    const checked_package *checked = package ? &*package : nullptr;
    const upgrade_plan plan = checked ? plan_of(*checked) : upgrade_plan();
    QVector<sensor_task> tasks;
    for (const QString &address : options.value->addresses) {
        tasks << package_task(address, checked, plan);
        tasks.last().ranged = options.value->ranged.contains(address);
    }
    rows.clear();
    rows.list_in_order(options.value->addresses);
    start_run(run_mode::check, tasks, checked, options.value->jobs);
}

// The ticked rows that a downgrade would reach, once the window's question was answered for all
// of them at once; nothing when it was not.
std::optional<QStringList> site_window::confirmed_downgrades(const QStringList &addresses,
                                                             const QString &package_version)
{
    QStringList downgrades;
    QString first_version;
    for (const sensor_record &record : rows.records())
        if (addresses.contains(record.address) &&
            is_downgrade(record.old_version, package_version)) {
            downgrades << record.address;
            if (first_version.isEmpty())
                first_version = record.old_version;
        }
    if (downgrades.isEmpty())
        return downgrades;
    QMessageBox box(QMessageBox::Question, "Question",
                    tr(downgrade_question(first_version, package_version).toUtf8().constData()),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setInformativeText(downgrades.join(", "));
    if (box.exec() != QMessageBox::Ok)
        return std::nullopt;
    return downgrades;
}

void site_window::on_pushButton_upgrade_clicked()
{
    const QStringList chosen = rows.ticked();
    if (chosen.isEmpty()) {
        show_error("error: no sensor address given!");
        return;
    }
    set_busy(true);
    const std::optional<checked_package> package = checked_now();
    const std::optional<QStringList> downgrades =
        package ? confirmed_downgrades(chosen, package->version) : std::nullopt;
    if (!downgrades) {
        set_busy(false);
        return;
    }
    const upgrade_plan plan = plan_of(*package);
    QVector<sensor_task> tasks;
    for (const QString &address : chosen) {
        sensor_task task = package_task(address, &*package, plan);
        task.allow_downgrade = downgrades->contains(address);
        task.verify_seconds =
            ui->checkBox_verify->isChecked() ? ui->spinBox_verify_seconds->value() : 0;
        tasks << task;
    }
    rows.show_waiting(chosen, package->version);
    start_run(run_mode::upgrade, tasks, &*package, ui->spinBox_streams->value());
}

void site_window::start_run(run_mode started, const QVector<sensor_task> &tasks,
                            const checked_package *package, int jobs)
{
    const QString path = record_path();
    run = std::make_unique<site_run>(path, stamp_of(package));
    const QString unwritable = run->open_record();
    if (!unwritable.isEmpty()) {
        run.reset();
        show_error(unwritable);
        set_busy(false);
        return;
    }
    mode = started;
    images = images_of(package);
    ui->label_record->setText(tr("Record: ") + QDir::toNativeSeparators(path));
    connect(run.get(), &site_run::finished, this, &site_window::run_ended);
    if (mode == run_mode::check)
        run->check(tasks, jobs);
    else
        run->upgrade(tasks, jobs);
    ui->pushButton_stop->setText(tr("Stop"));
    ui->pushButton_stop->setEnabled(true);
    refresh.start();
}

// What the engine told since the last look, each row changed once at most.
void site_window::show_events()
{
    const site_events events = run->take();
    for (auto progress = events.progress.cbegin(); progress != events.progress.cend(); ++progress)
        rows.show_progress(progress.key(), progress.value(), images);
    for (const sensor_record &record : events.finished)
        rows.show_record(record);
    show_summary(&events.activity);
    show_errors(events.lost_lines);
}

void site_window::run_ended()
{
    show_events();
    refresh.stop();
    run.reset();
    // What is left to do comes ticked: "Upgrade selected" again does it.
    if (mode == run_mode::check)
        rows.tick_results({record_result::outdated});
    else
        rows.tick_results(
            {record_result::failed, record_result::interrupted, record_result::not_started});
    ui->pushButton_stop->setText(tr("Stop"));
    ui->pushButton_stop->setEnabled(false);
    set_busy(false);
    show_summary();
    if (close_when_done)
        close();
}

void site_window::on_pushButton_stop_clicked()
{
    if (run->stops_asked() == 0) {
        run->stop();
        ui->pushButton_stop->setText(tr("Stop now"));
        return;
    }
    run->stop_now();
    ui->pushButton_stop->setEnabled(false);
}

// While anything runs only "Stop", the table's scrolling and its sorting take input.
void site_window::set_busy(bool now_busy)
{
    busy = now_busy;
    const QList<QWidget *> inputs{
        ui->lineEdit_sensors, ui->pushButton_load, ui->lineEdit_package, ui->pushButton_browse,
        ui->checkBox_verify,  ui->spinBox_streams, ui->pushButton_check, ui->pushButton_upgrade};
    for (QWidget *input : inputs)
        input->setEnabled(!busy);
    on_checkBox_verify_toggled(ui->checkBox_verify->isChecked());
    rows.set_tickable(!busy);
}

// "20 sensors: 12 current, 6 outdated · 234 empty addresses", and while images stream how many
// and how fast.
void site_window::show_summary(const fleet_activity *activity)
{
    QString text = result_counts(rows.records());
    if (activity && mode == run_mode::upgrade)
        text += QString::fromUtf8(" \u00b7 %1 streaming, %2 MB/s")
                    .arg(activity->streaming)
                    .arg(rows.streaming_rate() / 1e6, 0, 'f', 1);
    ui->label_summary->setText(text);
}

// A run is never left behind: closing stops it as "Stop now" does, and the window goes once
// every sensor has its record line.
void site_window::closeEvent(QCloseEvent *event)
{
    if (!busy) {
        event->accept();
        return;
    }
    event->ignore();
    if (!run || close_when_done)
        return;
    if (mode == run_mode::upgrade &&
        QMessageBox::question(this, "Question", tr("An upgrade is running. Stop it and close?"),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    close_when_done = true;
    run->stop_now();
    ui->pushButton_stop->setEnabled(false);
}
