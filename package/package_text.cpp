#include "package/package_text.h"

#include <QFile>
#include <QtDebug>
#include <cstdlib>
#include <memory>

#include "cipher/crypt_file.h"

namespace
{

struct free_deleter {
    void operator()(unsigned char *p) const { std::free(p); }
};
// A decrypted package file: its plain bytes, then zero bytes up to one past its length.
using plain_buffer = std::unique_ptr<unsigned char, free_deleter>;

bool opens(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text);
}

} // namespace

read_result<QString> read_package_text(const QString &path, const reader_messages &messages)
{
    if (!opens(path))
        return read_result<QString>::failed(messages.file_open_failed);
    const QString companion = path + "_config";
    if (!opens(companion)) {
        qDebug() << "open file" << companion << "failed";
        return read_result<QString>::failed(messages.companion_open_failed);
    }
    unsigned char *decrypted = nullptr;
    const int result = crypt_file("decry", path.toLocal8Bit().constData(), &decrypted);
    const plain_buffer plain(decrypted);
    if (result != 0)
        return read_result<QString>::failed("Decry Fail");
    if (!plain)
        return read_result<QString>::failed("Decried memory is NULL");
    // The buffer holds one zero byte beyond the file, so the text always ends inside it.
    return read_result<QString>::ok(QString::fromUtf8(reinterpret_cast<const char *>(plain.get())));
}
