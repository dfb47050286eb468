#include "package/package_check.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <memory>

#include "app/paths.h"
#include "cipher/crypt_file.h"
#include "device/tcp_device.h"
#include "package/package_file.h"
#include "package/update_list.h"
#include "package/version.h"

namespace
{

using check_result = read_result<checked_package>;
using file_result = read_result<checked_file>;

QByteArray sha256_of(const unsigned char *bytes, int size)
{
    return QCryptographicHash::hash(
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), size),
        QCryptographicHash::Sha256);
}

// Hashes the first length bytes the file decrypts to, whole and piece by piece; false when it
// cannot.
bool take_digests(checked_file &file)
{
    crypt_stream stream;
    if (crypt_stream_open(&stream, "decry", file.path.toLocal8Bit().constData()) != 0)
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::unique_ptr<unsigned char[]> piece(new unsigned char[image_piece_size]);
    int left = file.length;
    while (left > 0) {
        const int got = qMin(crypt_stream_read(&stream, piece.get(), image_piece_size), left);
        if (got <= 0)
            break;
        hash.addData(reinterpret_cast<const char *>(piece.get()), got);
        file.piece_sha256.append(sha256_of(piece.get(), got));
        left -= got;
    }
    crypt_stream_close(&stream);
    file.sha256 = hash.result();
    return left == 0;
}

// A name the settings file gives must stay inside the package directory.
bool stays_inside(const QString &name)
{
    return !QDir::isAbsolutePath(name) &&
           !QString(name).replace('\\', '/').split('/').contains("..");
}

// The window takes a first line that is not a number as no padding at all.
bool padding_is_number(const QString &dir, const QString &name)
{
    QFile companion(companion_path(dir, name));
    bool number = false;
    if (companion.open(QIODevice::ReadOnly | QIODevice::Text))
        QTextStream(&companion).readLine().toInt(&number);
    return number;
}

// What the fleet refuses of a file the window would send.
QString refusal(const checked_file &file, const QString &dir)
{
    const QString name = bare_name(file.path);
    if (!padding_is_number(dir, name))
        return "error: the padding count of " + name + " is not a number!";
    const int text =
        QByteArray("download").size() + download_arguments(name, file.format, file.length).size();
    if (text > command_frame_size)
        return "error: the download command for " + name + " takes " + QString::number(text) +
               " bytes, more than its frame's " + QString::number(command_frame_size) + "!";
    return {};
}

file_result check_file(const QString &path, const QString &dir, int format)
{
    QFile opened(path);
    if (!opened.open(QIODevice::ReadOnly))
        return file_result::failed("error: file open failed! (" + open_failure_detail(opened) +
                                   ")");
    checked_file file{path, QFileInfo(path).size(), format, 0, 0, {}, {}};
    const read_result<int> length = image_length(path, dir, file.size);
    if (!length)
        return file_result::failed(length.failure);
    file.length = *length.value;
    file.padding = int(file.size - file.length);
    const QString refused = refusal(file, dir);
    if (!refused.isEmpty())
        return file_result::failed(refused);
    if (!take_digests(file))
        return file_result::failed("Decry Fail");
    return file_result::ok(file);
}

} // namespace

check_result check_package(const QString &dir, const QVector<file_info *> &settings)
{
    if (!QFileInfo(dir).isDir())
        return check_result::failed(
            "error: package directory " + dir +
            (QFileInfo::exists(dir) ? " is not a directory!" : " does not exist!"));
    if (settings.isEmpty())
        return check_result::failed("error: the settings file names no package file!");
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
        if (!stays_inside(entry->get_name()))
            return check_result::failed("error: package file " + entry->get_name() +
                                        " lies outside the package directory!");
        const QString path = join_path(package.dir, entry->get_name());
        const read_result<checked_file> file = check_file(path, package.dir, entry->get_format());
        if (!file)
            return check_result::failed(file.failure);
        package.files.append(*file.value);
    }
    return check_result::ok(package);
}
