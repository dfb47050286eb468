#include "app/scaling.h"

#include <QGuiApplication>
#include <QList>

#include "app/dialog.h"
#include "app/x_resources.h"

namespace
{

const int unscaled_dpi = 96;

} // namespace

int x_desktop_dpi(const QByteArray &resource_database)
{
    const QByteArray key = "Xft.dpi:";
    for (const QByteArray &line : resource_database.split('\n'))
        if (line.startsWith(key)) {
            const int dpi = line.mid(key.size()).trimmed().toInt();
            return dpi > 0 ? dpi : unscaled_dpi;
        }
    return unscaled_dpi;
}

// The window grows with the screen's scale, by the factor the system asks for: at 150 % by
// 1.5, not rounded to 2. On X that is the desktop's Xft.dpi, unless the user named one.
void Dialog::use_high_dpi_scaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
    const std::optional<QByteArray> resources = x_resource_database();
    if (resources && qEnvironmentVariableIsEmpty("QT_FONT_DPI"))
        qputenv("QT_FONT_DPI", QByteArray::number(x_desktop_dpi(*resources)));
}
