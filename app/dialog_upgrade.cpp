// The "Upgrade" button: the version gate and the downgrade question, the package check, then the
// run, shown in the file table.
#include <QCoreApplication>
#include <QMessageBox>
#include <QTableWidget>
#include <QtDebug>

#include "app/dialog.h"
#include "app/file_table.h"
#include "app/input_blocker.h"
#include "app/run_progress.h"
#include "device/sensor_connect.h"
#include "device/tcp_device.h"
#include "gui/messages.h"
#include "package/package_file.h"
#include "package/trusted_keys.h"
#include "ui_dialog.h"
#include "upgrade/upgrade_engine.h"
#include "upgrade/version_gate.h"

namespace
{

QVector<qint64> listed_sizes(const upgrade_plan &plan)
{
    QVector<qint64> sizes;
    for (const plan_file &file : plan.files)
        sizes << file.size;
    return sizes;
}

// Shows the run in the table, which follows the streaming row, and in the title, and keeps the
// window painting while an image streams.
class table_observer : public upgrade_observer
{
public:
    table_observer(QTableWidget *table, const upgrade_plan &plan)
        : table(table), progress(table, status_column, listed_sizes(plan))
    {
    }
    void image_started(int index) override
    {
        streaming = index;
        mark_upgrading(table, index);
        table->scrollToItem(table->item(index, status_column));
    }
    void image_progress(int index, qint64 taken, qint64 total) override
    {
        progress.image_bytes(index, taken, total);
        QCoreApplication::processEvents();
    }
    void file_finished(int index, const sent_file &) override
    {
        streaming = -1;
        mark_finished(table, index);
    }
    void run_failed() { progress.stopped(streaming); }

private:
    QTableWidget *table;
    run_progress progress;
    int streaming = -1;
};

} // namespace

QVector<listed_file> Dialog::listed_files() const
{
    // The file list is made from the settings entries, one for one and in order.
    QVector<listed_file> files;
    for (int i = 0; i < file_list.size(); ++i)
        files.append(
            {config_entries[i]->get_name(), file_list[i]->get_format(), file_list[i]->get_size()});
    return files;
}

// What the version gate passed must still be what the package holds, where it was read again.
outcome Dialog::gate_changed(const checked_package &package) const
{
    if (package.version_sha256.isEmpty())
        return {};
    if (package.version != package_version)
        return outcome(outcome_kind::package_changed, changed_message("version"));
    if (package.update_list != update_list)
        return outcome(outcome_kind::package_changed, changed_message("updatelist"));
    return {};
}

// The package as it is now, checked whole before the first frame, the window painting
// meanwhile: with the working directory's trust store, and against a manifest there is. Nothing
// after the box that says why it is refused.
std::optional<checked_package> Dialog::checked_for_run()
{
    const auto trusted = working_trusted_keys();
    if (trusted && !*trusted) {
        show_error(trusted->failure);
        return std::nullopt;
    }
    check_rules rules;
    rules.trusted = trusted ? &*trusted->value : nullptr;
    rules.tick = [] { QCoreApplication::processEvents(); };
    const QString title = windowTitle();
    setWindowTitle("checking package \u00b7 " + title);
    rules.tick();
    const read_result<checked_package> package = check_package(package_dir, listed_files(), rules);
    setWindowTitle(title);
    if (!package) {
        show_errors(package.failure.split('\n'));
        return std::nullopt;
    }
    const outcome changed = gate_changed(*package.value);
    if (!changed.is_ok()) {
        show_errors(changed.messages);
        return std::nullopt;
    }
    if (!trusted)
        qDebug().noquote() << unsigned_note(package.value->signature);
    return package.value;
}

bool Dialog::confirm_downgrade()
{
    const QString question =
        tr(downgrade_question(device_version, package_version).toUtf8().constData());
    const auto answer = QMessageBox::question(
        this, "Question", question, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel)
        qDebug() << "Cancelled";
    return answer == QMessageBox::Ok;
}

// The table and the title show the run as over before anything is said of how it ended.
outcome Dialog::run_in_table(const upgrade_plan &plan)
{
    table_observer observer(ui->tableWidget_filelist, plan);
    // The window never stops a run it started.
    const outcome run = run_upgrade(*device, plan, observer, stop_token());
    if (!run.is_ok())
        observer.run_failed();
    return run;
}

void Dialog::on_pushButton_startupgrade_clicked()
{
    // The sensor upgraded is the one the window names.
    const outcome named = same_sensor(*device, ui->lineEdit_ip->text());
    if (!named.is_ok()) {
        show_errors(named.messages);
        return;
    }
    const outcome gate = version_gate(device_version, package_version, update_list);
    if (!gate.is_ok()) {
        show_errors(gate.messages);
        return;
    }
    if (announce_upgrade(device_version, package_version) && !confirm_downgrade())
        return;

    // What passed the gate and the package check is what is sent, whatever happens in the window
    // meanwhile; the window takes input again once the operator was told how the run ended.
    const input_blocker busy(this,
                             {ui->lineEdit_input_directry, ui->pushButton_browse, ui->lineEdit_ip,
                              ui->pushButton_connect, ui->pushButton_startupgrade},
                             ui->tableWidget_filelist);
    const std::optional<checked_package> package = checked_for_run();
    if (!package)
        return;
    const outcome run = run_in_table(plan_of(*package));
    if (run.is_ok())
        ui->lineEdit_old_version->clear();
    else
        show_errors(run.messages);
}
