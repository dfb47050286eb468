// The "Upgrade" button: the version gate and the downgrade question, then the run, shown in
// the file table.
#include <QCoreApplication>
#include <QMessageBox>
#include <QTableWidget>
#include <QtDebug>

#include "app/dialog.h"
#include "app/input_blocker.h"
#include "app/messages.h"
#include "app/run_progress.h"
#include "device/sensor_connect.h"
#include "device/tcp_device.h"
#include "package/file_table.h"
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

upgrade_plan Dialog::plan_of_package() const
{
    upgrade_plan plan;
    plan.package_dir = package_dir;
    for (const file_info *entry : file_list)
        plan.files.append({entry->get_name(), entry->get_size(), entry->get_format(), {}, {}});
    return plan;
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
upgrade_outcome Dialog::run_in_table(const upgrade_plan &plan)
{
    table_observer observer(ui->tableWidget_filelist, plan);
    const upgrade_outcome outcome = run_upgrade(*device, plan, observer);
    if (outcome.result != upgrade_outcome::done)
        observer.run_failed();
    return outcome;
}

void Dialog::on_pushButton_startupgrade_clicked()
{
    // The sensor upgraded is the one the window names.
    const QString elsewhere = other_sensor_message(*device, ui->lineEdit_ip->text());
    if (!elsewhere.isEmpty()) {
        show_error(elsewhere);
        return;
    }
    const QString refused = gate_failure(device_version, package_version, update_list);
    if (!refused.isEmpty()) {
        show_error(refused);
        return;
    }
    if (announce_upgrade(device_version, package_version) && !confirm_downgrade())
        return;

    // What passed the gate is what is sent, whatever happens in the window meanwhile; the window
    // takes input again once the operator was told how the run ended.
    const input_blocker busy(this,
                             {ui->lineEdit_input_directry, ui->pushButton_browse, ui->lineEdit_ip,
                              ui->pushButton_connect, ui->pushButton_startupgrade},
                             ui->tableWidget_filelist);
    const upgrade_outcome outcome = run_in_table(plan_of_package());
    if (outcome.result == upgrade_outcome::done)
        ui->lineEdit_old_version->clear();
    else
        show_error(outcome.message);
}
