#include "package/version.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QtDebug>

#include "app/dialog.h"
#include "app/messages.h"
#include "app/paths.h"
#include "package/package_text.h"
#include "ui_dialog.h"

namespace {

int digit_at(const QString &text, int index)
{
    return index >= 0 && index < text.size() ? text[index].unicode() - '0' : 0;
}

} // namespace

bool is_accepted_version(const QString &version)
{
    return version.count('.') == 2;
}

int version_number(const QString &version)
{
    const int dot = version.indexOf('.');
    if (dot < 0)
        return 0;
    return 100 * digit_at(version, dot - 1) + 10 * digit_at(version, dot + 1) +
           digit_at(version, dot + 3);
}

QString Dialog::read_version_file(const QString &path)
{
    return read_package_text(
               path, {"error: version file open failed!", "error: open version config file failed"})
        .value_or(QString());
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
        show_error("error: invalid version from version file" + package_version);
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
