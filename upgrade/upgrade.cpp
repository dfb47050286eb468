#include "app/dialog.h"

void Dialog::on_pushButton_startupgrade_clicked() {}
