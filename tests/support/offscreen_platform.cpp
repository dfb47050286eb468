// Test programs built against a static Qt for Windows: headless unless told
// otherwise. Wine does not hand QT_* variables on to Windows programs, so the
// test's QT_QPA_PLATFORM=offscreen does not reach them there.
#include <QByteArray>
#include <QtGlobal>

namespace
{

const bool offscreen_by_default = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    return true;
}();

} // namespace
