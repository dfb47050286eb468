// The package directory: typed or chosen with "Browse", then listed and read.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QtDebug>

#include "app/dialog.h"
#include "app/file_table.h"
#include "base/paths.h"
#include "gui/messages.h"
#include "package/file_list.h"
#include "package/update_list.h"
#include "package/version.h"
#include "ui_dialog.h"

void Dialog::refresh_file_list(const QString &dir)
{
    qDeleteAll(file_list);
    package_dir = dir;
    file_list = list_package_files(dir, config_entries);
    config_reader.dump_file_list(file_list);
    fill_file_table(ui->tableWidget_filelist, file_list);
}

QList<QStringList> Dialog::read_update_list(const QString &path)
{
    return value_or_shown(read_update_list_file(path));
}

QString Dialog::read_version_file(const QString &path)
{
    return value_or_shown(read_version_file_text(path));
}

void Dialog::on_lineEdit_input_directry_textChanged(const QString &arg1)
{
    if (!QFileInfo(arg1).isDir())
        return;
    qDebug() << "\nget directory:";
    refresh_file_list(QDir::toNativeSeparators(arg1));
    update_list = read_update_list(join_path(arg1, "updatelist"));
    package_version = read_version_file(join_path(arg1, "version"));
    if (is_accepted_version(package_version)) {
        qDebug() << "version new" << package_version;
        ui->lineEdit_new_version->setText(package_version);
    } else {
        show_error(invalid_version_message(package_version));
    }
}

void Dialog::on_pushButton_browse_clicked()
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, tr("Find Files"), QDir::currentPath(), QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        ui->lineEdit_input_directry->setText(QDir::toNativeSeparators(chosen));
    on_lineEdit_input_directry_textChanged(ui->lineEdit_input_directry->text());
}
