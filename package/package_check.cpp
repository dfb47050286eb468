#include "package/package_check.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <memory>
#include <optional>

#include "base/paths.h"
#include "cipher/crypt_file.h"
#include "package/manifest.h"
#include "package/package_file.h"
#include "package/update_list.h"
#include "package/version.h"

namespace
{

using check_result = read_result<checked_package>;
using file_result = read_result<checked_file>;

QByteArray sha256_of(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Hashes the first length bytes the file decrypts to, whole and piece by piece; false when it
// cannot.
bool take_digests(checked_file &file, const std::function<void()> &tick)
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
        const QByteArray bytes =
            QByteArray::fromRawData(reinterpret_cast<const char *>(piece.get()), got);
        hash.addData(bytes);
        file.piece_sha256.append(sha256_of(bytes));
        left -= got;
        if (tick)
            tick();
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
QString fleet_refusal(const checked_file &file, const QString &dir, const check_rules &rules)
{
    const QString name = bare_name(file.path);
    if (!padding_is_number(dir, name))
        return "error: the padding count of " + name + " is not a number!";
    return rules.announceable ? rules.announceable(name, file.format, file.length) : QString();
}

file_result check_file(const QString &dir, const listed_file &listed, const check_rules &rules)
{
    const bool fleet = rules.mode == check_rules::fleet;
    if (fleet && !stays_inside(listed.name))
        return file_result::failed("error: package file " + listed.name +
                                   " lies outside the package directory!");
    checked_file file{listed.name, join_path(dir, listed.name), 0, listed.format, 0, 0, {}, {}};
    QFile opened(file.path);
    if (!opened.open(QIODevice::ReadOnly))
        return file_result::failed("error: file open failed!" +
                                   (fleet ? " (" + open_failure_detail(opened) + ")" : QString()));
    file.size = opened.size();
    const read_result<int> length =
        image_length(file.path, dir, listed.size < 0 ? file.size : listed.size);
    if (!length)
        return file_result::failed(length.failure);
    file.length = *length.value;
    file.padding = int(file.size - file.length);
    const QString refused = fleet ? fleet_refusal(file, dir, rules) : QString();
    if (!refused.isEmpty())
        return file_result::failed(refused);
    if (!take_digests(file, rules.tick))
        return file_result::failed("Decry Fail");
    return file_result::ok(file);
}

// A file of the package beside its images, if it is there; one that does not read holds nothing.
std::optional<QByteArray> read_if_there(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Reads the update list and the version, and the SHA-256 of their texts; the failure's messages.
// The fleet refuses a version the window would not show.
QString read_texts(checked_package &package, bool fleet)
{
    const auto list = read_update_list_text(QDir(package.dir).filePath("updatelist"));
    if (!list)
        return list.failure;
    package.update_list = parse_update_list(*list.value);
    package.update_list_sha256 = sha256_of(list.value->toUtf8());
    const auto version = read_version_file_text(QDir(package.dir).filePath("version"));
    package.version = version.value_or_empty();
    if (fleet && !is_accepted_version(package.version))
        return (version ? QString() : version.failure + "\n") +
               invalid_version_message(package.version);
    if (!version)
        return version.failure;
    package.version_sha256 = sha256_of(version.value->toUtf8());
    return {};
}

// With a trust store the manifest must be signed by a trusted key; the failure's message.
QString signature_refusal(checked_package &package, const std::optional<QByteArray> &manifest,
                          const check_rules &rules)
{
    package.signature = check_signature(
        manifest, read_if_there(join_path(package.dir, "manifest.minisig")), rules.trusted);
    if (package.signature.state != package_signature::refused)
        return {};
    return "error: package is not signed by a trusted key" +
           (rules.mode == check_rules::fleet ? " (" + package.signature.reason + ")" : QString());
}

// What refuses the package before its files are read: the fleet's rules for the directory.
QString directory_refusal(const QString &dir, const QVector<listed_file> &files)
{
    if (!QFileInfo(dir).isDir())
        return "error: package directory " + dir +
               (QFileInfo::exists(dir) ? " is not a directory!" : " does not exist!");
    if (files.isEmpty())
        return "error: the settings file names no package file!";
    return {};
}

} // namespace

check_result check_package(const QString &dir, const QVector<listed_file> &files,
                           const check_rules &rules)
{
    const QString unusable =
        rules.mode == check_rules::fleet ? directory_refusal(dir, files) : QString();
    if (!unusable.isEmpty())
        return check_result::failed(unusable);
    checked_package package;
    package.dir = QDir::toNativeSeparators(dir);
    const bool new_manifest = rules.mode == check_rules::new_manifest;
    const auto manifest =
        new_manifest ? std::nullopt : read_if_there(join_path(package.dir, "manifest"));
    const QString unsigned_package =
        new_manifest ? QString() : signature_refusal(package, manifest, rules);
    if (!unsigned_package.isEmpty())
        return check_result::failed(unsigned_package);
    const QString unread = rules.mode != check_rules::window || manifest
                               ? read_texts(package, rules.mode == check_rules::fleet)
                               : QString();
    if (!unread.isEmpty())
        return check_result::failed(unread);
    for (const listed_file &listed : files) {
        const file_result file = check_file(package.dir, listed, rules);
        if (!file)
            return check_result::failed(file.failure);
        package.files.append(*file.value);
    }
    const QByteArray derived = manifest_text(package);
    const QString differs = manifest ? manifest_mismatch(*manifest, derived) : QString();
    if (!differs.isEmpty())
        return check_result::failed("error: package does not match its manifest: " + differs);
    package.identity = sha256_of(derived);
    return check_result::ok(package);
}

QVector<listed_file> listed_now(const QVector<file_info *> &settings)
{
    QVector<listed_file> files;
    for (const file_info *entry : settings)
        files.append({entry->get_name(), entry->get_format(), -1});
    return files;
}
