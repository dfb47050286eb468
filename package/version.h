#ifndef VERSION_H
#define VERSION_H

#include <QString>

#include "package/read_result.h"

// A package version is accepted when it holds exactly two dots.
bool is_accepted_version(const QString &version);

// 100, 10 and 1 times the digits one before, one after and three after the
// first dot; c2.0.7 is 207. A position outside the text counts as 0.
int version_number(const QString &version);

// Reads the package's encrypted "version" (its "_config" companion must open too).
read_result<QString> read_version_file_text(const QString &path);

// What the operator is told of a version text that is not accepted.
QString invalid_version_message(const QString &version);

#endif
