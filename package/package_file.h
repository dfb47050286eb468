#ifndef PACKAGE_FILE_H
#define PACKAGE_FILE_H

#include <QString>

#include "package/read_result.h"

class QFile;

// An image is decrypted, hashed and sent a piece of this many bytes at a time.
const int image_piece_size = 64 * 1024;

// The name a package file is announced with: its path's last piece.
QString bare_name(const QString &path);

// The companion of a package file: its path, with the "//" the sensor's tools have always used.
QString companion_path(const QString &package_dir, const QString &file_name);

// The companion's first line: how many padding bytes the cipher added. A line that is not a
// number counts as 0.
read_result<int> read_padding_count(const QString &companion);

// The length of the image a package file holds: its size less the companion's padding count.
// Refuses a file the download command cannot announce (2 GiB or more), a file whose size is no
// longer listed_size, a file cut short of whole cipher blocks, and a count that does not agree
// with the file's last block.
read_result<int> image_length(const QString &path, const QString &package_dir, qint64 listed_size);

// What a failed open is about: the file's path and the system's reason.
QString open_failure_detail(const QFile &file);

// What the operator is told when a file no longer holds what was listed.
QString changed_message(const QString &file_name);

#endif
