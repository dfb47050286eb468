#ifndef UPDATE_LIST_H
#define UPDATE_LIST_H

#include <QList>
#include <QStringList>

#include "package/read_result.h"

// The upgrade groups of an update list text: CR LF pairs and then blanks
// removed, records cut at ";", empty records skipped, braces dropped, fields
// cut at "," with empty ones kept.
QList<QStringList> parse_update_list(const QString &text);

// True when one group holds both versions.
bool group_permits(const QList<QStringList> &groups, const QString &from, const QString &to);

// Reads the package's encrypted "updatelist" (its "_config" companion must open too).
read_result<QList<QStringList>> read_update_list_file(const QString &path);

// The same file's decrypted text.
read_result<QString> read_update_list_text(const QString &path);

#endif
