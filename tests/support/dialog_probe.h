#ifndef DIALOG_PROBE_H
#define DIALOG_PROBE_H

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "app/dialog.h"
#include "device/tcp_device.h"

// Read access to the state the window keeps between operator actions.
struct dialog_probe {
    static const QVector<file_info *> &file_list(const Dialog &d) { return d.file_list; }
    static const QList<QStringList> &update_list(const Dialog &d) { return d.update_list; }
    static const QString &package_dir(const Dialog &d) { return d.package_dir; }
    static const QString &device_version(const Dialog &d) { return d.device_version; }
    static const QString &package_version(const Dialog &d) { return d.package_version; }
    static tcp_device *device(const Dialog &d) { return d.device; }

    template <class T> static T *widget(const Dialog &d, const char *name)
    {
        return d.findChild<T *>(QString::fromLatin1(name));
    }
};

#endif
