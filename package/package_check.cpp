#include "package/package_check.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

#include "app/paths.h"
#include "cipher/crypt_file.h"
#include "package/package_file.h"
#include "package/update_list.h"
#include "package/version.h"

namespace
{

const int piece_size = 64 * 1024;

using check_result = read_result<checked_package>;

// The SHA-256 of the first length bytes the file decrypts to; empty when it cannot.
QByteArray image_digest(const QString &path, int length)
{
    crypt_stream stream;
    if (crypt_stream_open(&stream, "decry", path.toLocal8Bit().constData()) != 0)
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::unique_ptr<unsigned char[]> piece(new unsigned char[piece_size]);
    int left = length;
    while (left > 0) {
        const int got = crypt_stream_read(&stream, piece.get(), piece_size);
        if (got <= 0)
            break;
        hash.addData(reinterpret_cast<const char *>(piece.get()), qMin(got, left));
        left -= qMin(got, left);
    }
    crypt_stream_close(&stream);
    return left == 0 ? hash.result() : QByteArray();
}

read_result<checked_file> check_file(const QString &path, const QString &dir, int format)
{
    if (!QFile(path).open(QIODevice::ReadOnly))
        return read_result<checked_file>::failed("error: file open failed!");
    checked_file file{path, QFileInfo(path).size(), format, 0, 0, {}};
    const read_result<int> length = image_length(path, dir, file.size);
    if (!length)
        return read_result<checked_file>::failed(length.failure);
    file.length = *length.value;
    file.padding = int(file.size - file.length);
    file.sha256 = image_digest(path, file.length);
    if (file.sha256.isEmpty())
        return read_result<checked_file>::failed("Decry Fail");
    return read_result<checked_file>::ok(file);
}

} // namespace

check_result check_package(const QString &dir, const QVector<file_info *> &settings)
{
    if (!QFileInfo(dir).isDir())
        return check_result::failed("error: package directory " + dir + " does not exist!");
    checked_package package;
    package.dir = QDir::toNativeSeparators(dir);
    const auto groups = read_update_list_file(QDir(dir).filePath("updatelist"));
    if (!groups)
        return check_result::failed(groups.failure);
    package.update_list = *groups.value;
    const auto version = read_version_file_text(QDir(dir).filePath("version"));
    package.version = version.value_or_empty();
    if (!is_accepted_version(package.version))
        return check_result::failed((version ? QString() : version.failure + "\n") +
                                    invalid_version_message(package.version));
    for (const file_info *entry : settings) {
        const QString path = join_path(package.dir, entry->get_name());
        const read_result<checked_file> file = check_file(path, package.dir, entry->get_format());
        if (!file)
            return check_result::failed(file.failure);
        package.files.append(*file.value);
    }
    return check_result::ok(package);
}
