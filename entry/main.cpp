#include <QApplication>

#include "app/dialog.h"
#include "base/console.h"
#include "fleet/fleet_mode.h"

int main(int argc, char *argv[])
{
    set_up_console();
    // With arguments the tool runs without a window.
    if (argc > 1)
        return run_fleet_mode(argc, argv);
    Dialog::use_high_dpi_scaling();
    QApplication app(argc, argv);
    Dialog dialog;
    dialog.show();
    return app.exec();
}
