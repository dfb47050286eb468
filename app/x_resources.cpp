#include "app/x_resources.h"

#include <QtGlobal>

#ifdef CORVALEN_HAVE_XCB
#include <cstdlib>
#include <xcb/xcb.h>
#endif

namespace
{

#ifdef CORVALEN_HAVE_XCB
// Qt picks the X platform where none is named and a display is given.
bool opens_on_x()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return (platform.isEmpty() || platform.startsWith("xcb")) && !qgetenv("DISPLAY").isEmpty();
}

QByteArray resource_manager_property(xcb_connection_t *connection)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return {};
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1 << 16);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (!reply)
        return {};
    const QByteArray value(static_cast<const char *>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}
#endif

} // namespace

std::optional<QByteArray> x_resource_database()
{
#ifdef CORVALEN_HAVE_XCB
    if (!opens_on_x())
        return std::nullopt;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    QByteArray value;
    if (!xcb_connection_has_error(connection))
        value = resource_manager_property(connection);
    xcb_disconnect(connection);
    return value;
#else
    return std::nullopt;
#endif
}
