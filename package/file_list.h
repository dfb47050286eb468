#ifndef FILE_LIST_H
#define FILE_LIST_H

#include <QString>
#include <QStringList>
#include <QVector>

#include "package/file_info.h"

// The file list of the package in dir: a new entry for each settings entry, in their order,
// named by its full path (dir, the platform's separator, the bare name), with its format and
// the size the file system gives (the low 32 bits; 0 when there is no such file). Nothing is
// read from the files. The entries are owned by the caller.
QVector<file_info *> list_package_files(const QString &dir, const QVector<file_info *> &settings);

// The texts of an entry's row in the file table: its name after the last "/", its size followed
// by "Byte", and "TXT" for format 0, else "HEX".
QStringList file_row_texts(const file_info &entry);

#endif
