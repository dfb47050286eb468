#ifndef PACKAGE_TEXT_H
#define PACKAGE_TEXT_H

#include <QString>

#include "package/read_result.h"

// The messages a reader gives when its file or its "_config" companion does not open.
struct reader_messages {
    const char *file_open_failed;
    const char *companion_open_failed;
};

// Decrypts an encrypted text file of the package after checking that it and its companion
// open. The text ends at the first zero byte.
read_result<QString> read_package_text(const QString &path, const reader_messages &messages);

#endif
