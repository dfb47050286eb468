#ifndef PACKAGE_TEXT_H
#define PACKAGE_TEXT_H

#include <QString>
#include <cstdlib>
#include <memory>
#include <optional>

struct free_deleter {
    void operator()(unsigned char *p) const { std::free(p); }
};
// A decrypted package file: its plain bytes, then zero bytes up to one past its length.
using plain_buffer = std::unique_ptr<unsigned char, free_deleter>;

// Decrypts a package file. Shows "Decry Fail" or "Decried memory is NULL" and
// returns null when that fails.
plain_buffer decrypt_package_file(const QString &path);

// The messages a reader shows when its file or its "_config" companion does
// not open.
struct reader_messages {
    const char *file_open_failed;
    const char *companion_open_failed;
};

// Decrypts an encrypted text file of the package after checking that it and
// its companion open. The text ends at the first zero byte. Shows the
// failure's message and returns nothing when it cannot be read.
std::optional<QString> read_package_text(const QString &path, const reader_messages &messages);

#endif
