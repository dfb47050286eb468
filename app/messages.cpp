#include "app/messages.h"

#include <QMessageBox>

void show_error(const QString &text)
{
    QMessageBox box;
    box.setText(text);
    box.exec();
}

bool device_result_ok(int result, const QString &failure_text)
{
    if (result == 0)
        return true;
    show_error(result == 2 ? QString("error: tcp not connected!") : failure_text);
    return false;
}
