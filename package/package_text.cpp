#include "package/package_text.h"

#include <QFile>
#include <QtDebug>
#include <cstdlib>
#include <memory>

#include "app/messages.h"
#include "cipher/crypt_file.h"

namespace
{

struct free_deleter {
    void operator()(unsigned char *p) const { std::free(p); }
};
// A decrypted package file: its plain bytes, then zero bytes up to one past its length.
using plain_buffer = std::unique_ptr<unsigned char, free_deleter>;

// Decrypts a package file. Shows "Decry Fail" or "Decried memory is NULL" and
// returns null when that fails.
plain_buffer decrypt_package_file(const QString &path)
{
    unsigned char *decrypted = nullptr;
    const int result = crypt_file("decry", path.toLocal8Bit().constData(), &decrypted);
    plain_buffer plain(decrypted);
    if (result != 0) {
        show_error("Decry Fail");
        return nullptr;
    }
    if (!plain)
        show_error("Decried memory is NULL");
    return plain;
}

bool opens(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text);
}

} // namespace

std::optional<QString> read_package_text(const QString &path, const reader_messages &messages)
{
    if (!opens(path)) {
        show_error(messages.file_open_failed);
        return std::nullopt;
    }
    const QString companion = path + "_config";
    if (!opens(companion)) {
        qDebug() << "open file" << companion << "failed";
        show_error(messages.companion_open_failed);
        return std::nullopt;
    }
    const plain_buffer plain = decrypt_package_file(path);
    if (!plain)
        return std::nullopt;
    // The buffer holds one zero byte beyond the file, so the text always ends inside it.
    return QString::fromUtf8(reinterpret_cast<const char *>(plain.get()));
}
