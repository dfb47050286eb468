#ifndef SCALING_H
#define SCALING_H

#include <QByteArray>

// The dots per inch an X desktop asks the window to follow: its resource database's Xft.dpi,
// or 96 (a scale of 100 %) when it sets none. The screen's physical size is no scale setting.
int x_desktop_dpi(const QByteArray &resource_database);

#endif
