#include "app/dialog.h"

void Dialog::refresh_file_list(const QString &dir)
{
    Q_UNUSED(dir);
}

QList<QStringList> Dialog::read_update_list(const QString &path)
{
    Q_UNUSED(path);
    return {};
}

QString Dialog::read_version_file(const QString &path)
{
    Q_UNUSED(path);
    return {};
}

void Dialog::on_lineEdit_input_directry_textChanged(const QString &arg1)
{
    Q_UNUSED(arg1);
}

void Dialog::on_pushButton_browse_clicked() {}
