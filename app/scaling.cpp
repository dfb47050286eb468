#include <QGuiApplication>

#include "app/dialog.h"

// The window grows with the screen's scale, by the factor the system asks for: at 150 % by
// 1.5, not rounded to 2.
void Dialog::use_high_dpi_scaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}
