#ifndef X_RESOURCES_H
#define X_RESOURCES_H

#include <QByteArray>
#include <optional>

// The X server's resource database as the desktop set it ("Xft.dpi:\t144\n..."; empty when it
// set none), when the window is going to open on an X display; nothing elsewhere.
std::optional<QByteArray> x_resource_database();

#endif
