#include "gui/messages.h"

#include <QMessageBox>

void show_error(const QString &text)
{
    QMessageBox box;
    box.setText(text);
    box.exec();
}

void show_errors(const QStringList &texts)
{
    for (const QString &text : texts)
        show_error(text);
}
