#ifndef PADDING_COUNT_H
#define PADDING_COUNT_H

#include <QString>

#include "package/read_result.h"

// The companion of a package file: its path, with the "//" the sensor's tools have always used.
QString companion_path(const QString &package_dir, const QString &file_name);

// The companion's first line: how many padding bytes the cipher added. A line that is not a
// number counts as 0.
read_result<int> read_padding_count(const QString &companion);

#endif
