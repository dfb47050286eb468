#include <QApplication>
#include <cstring>

#include "app/dialog.h"
#include "base/console.h"
#include "fleet/fleet_mode.h"
#include "site/site_window.h"

namespace
{

// The window, or with --site alone the site window, following the screen's scale alike.
template <class window_kind> int run_window(int argc, char *argv[])
{
    Dialog::use_high_dpi_scaling();
    QApplication app(argc, argv);
    window_kind window;
    window.show();
    return app.exec();
}

bool asks_for_site(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--site") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    set_up_console();
    if (asks_for_site(argc, argv)) {
        if (argc == 2)
            return run_window<site_window>(argc, argv);
        write_error_line("error: --site takes no other argument");
        return 2;
    }
    // With arguments the tool runs without a window.
    if (argc > 1)
        return run_fleet_mode(argc, argv);
    return run_window<Dialog>(argc, argv);
}
