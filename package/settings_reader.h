#ifndef SETTINGS_READER_H
#define SETTINGS_READER_H

#include <QString>
#include <QVector>

#include "package/file_info.h"
#include "package/read_result.h"

// One line of the settings file: the name, a blank and the format. Extra
// pieces are ignored and a format that is not a number is 0. Returns null for
// a line that names no file (empty, or starting with a blank).
file_info *parse_settings_line(const QString &line);

// Reads the settings file that names the package files; holds no state.
class settings_reader
{
public:
    // The entries, one per line that names a file; owned by the caller.
    read_result<QVector<file_info *>> read_config(const QString &path);
    void dump_file_list(const QVector<file_info *> &list);
};

#endif
