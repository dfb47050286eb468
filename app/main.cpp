#include <QApplication>

#include "app/console.h"
#include "app/dialog.h"

int main(int argc, char *argv[])
{
    set_up_console();
    QApplication app(argc, argv);
    Dialog dialog;
    dialog.show();
    return app.exec();
}
