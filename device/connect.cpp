#include "app/dialog.h"

void Dialog::on_pushButton_connect_clicked() {}

QString Dialog::get_lidar_version()
{
    return {};
}
