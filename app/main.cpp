#include <QApplication>

#include "app/console.h"
#include "app/dialog.h"

int main(int argc, char *argv[])
{
    use_process_code_page_on_console();
    Dialog::use_high_dpi_scaling();
    QApplication app(argc, argv);
    Dialog dialog;
    dialog.show();
    return app.exec();
}
