#include "app/dialog.h"

#include <QDir>
#include <QKeyEvent>
#include <QPixmap>

#include "app/file_table.h"
#include "base/paths.h"
#include "device/sensor_connect.h"
#include "device/tcp_device.h"
#include "gui/messages.h"
#include "gui/progress_delegate.h"
#include "ui_dialog.h"

Dialog::Dialog(QWidget *parent) : QDialog(parent), ui(new Ui_Dialog)
{
    ui->setupUi(this);
    init_dialog();
}

Dialog::~Dialog()
{
    delete ui;
    qDeleteAll(file_list);
    qDeleteAll(config_entries);
    delete device;
}

void Dialog::init_dialog()
{
    window_icon.addPixmap(QPixmap(join_path(QDir::currentPath(), "corvalen.png")), QIcon::Normal,
                          QIcon::Off);
    setWindowIcon(window_icon);
    ui->tableWidget_filelist->setItemDelegateForColumn(
        status_column, new progress_delegate(ui->tableWidget_filelist));
    // Tab leaves the table, which holds nothing to edit, for the next input.
    ui->tableWidget_filelist->setTabKeyNavigation(false);

    device = new tcp_device;

    config_entries =
        value_or_shown(config_reader.read_config(join_path(QDir::currentPath(), "config")));
    config_reader.dump_file_list(config_entries);

    on_lineEdit_input_directry_textChanged(ui->lineEdit_input_directry->text());
}

void Dialog::on_pushButton_connect_clicked()
{
    const connection link = connect_sensor(*device, ui->lineEdit_ip->text());
    // A link opened anew replaces the version, with nothing when its log named none.
    if (opened_link(link.how))
        device_version = link.version;
    show_errors(link.how.messages);
    if (!link.version.isEmpty())
        ui->lineEdit_old_version->setText(device_version);
}

void Dialog::on_lineEdit_ip_returnPressed()
{
    ui->pushButton_connect->click();
}

// Enter on a focused button presses it, as Space does; in a field it presses none but the IP
// field's own.
void Dialog::keyPressEvent(QKeyEvent *event)
{
    auto *button = qobject_cast<QPushButton *>(focusWidget());
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (button && enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
