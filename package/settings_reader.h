#ifndef SETTINGS_READER_H
#define SETTINGS_READER_H

#include <QString>
#include <QVector>

#include "package/file_info.h"

// Reads the settings file that names the package files; holds no state.
class settings_reader
{
public:
    QVector<file_info *> read_config(const QString &path);
    void dump_file_list(QVector<file_info *> list);
};

#endif
