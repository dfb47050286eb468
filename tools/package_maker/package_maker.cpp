#include "package_maker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "cipher/aes.h"
#include "cipher/crypt_file.h"
#include "package/manifest.h"

namespace
{

const int block_size = 16;

bool write_file(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    *error = "cannot write " + path + ": " + file.errorString();
    return false;
}

// An enciphered file and its companion with the padding count.
bool write_encrypted(const QString &path, const QByteArray &plain, QString *error)
{
    return write_file(path, encrypt_package_bytes(plain), error) &&
           write_file(path + "_config", QByteArray::number(padding_count(plain.size())) + "\n",
                      error);
}

QStringList package_file_names(const package_contents &contents)
{
    QStringList names = {"updatelist", "version", "manifest"};
    for (const package_file &file : contents.files)
        names << file.name;
    return names;
}

void quiet(const char *) {}

// The check that derives the manifest decrypts every file: not a line of that is the maker's.
read_result<checked_package> checked_quietly(const QString &dir, const QVector<listed_file> &files)
{
    check_rules rules;
    rules.mode = check_rules::new_manifest;
    const crypt_line_output before = crypt_set_output(quiet);
    const read_result<checked_package> package = check_package(dir, files, rules);
    crypt_set_output(before);
    return package;
}

bool remove_file(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    *error = "cannot remove " + path + ": " + file.errorString();
    return false;
}

} // namespace

int padding_count(int plain_length)
{
    return block_size - plain_length % block_size;
}

QByteArray encrypt_package_bytes(const QByteArray &plain)
{
    QByteArray padded = plain;
    const int padding = padding_count(plain.size());
    padded.append(padding, char(padding));
    unsigned char round_keys[240];
    expand_key(file_key, round_keys);
    QByteArray cipher(padded.size(), '\0');
    for (int i = 0; i < padded.size(); i += block_size)
        encrypt_block(reinterpret_cast<const unsigned char *>(padded.constData() + i),
                      reinterpret_cast<unsigned char *>(cipher.data() + i), round_keys);
    return cipher;
}

bool make_package(const QString &dir, const package_contents &contents, const QString &config_path,
                  bool overwrite, QString *error)
{
    QString reason;
    error = error ? error : &reason;
    const QDir package(dir);
    const QStringList names = package_file_names(contents);
    for (const QString &name : names)
        if (name.contains(' ')) {
            *error =
                "image name \"" + name + "\" holds a blank, where the settings file cuts names";
            return false;
        }
    if (!overwrite) {
        for (const QString &name : names)
            if (QFileInfo::exists(package.filePath(name))) {
                *error = package.filePath(name) + " exists already; not overwriting the package";
                return false;
            }
        if (!config_path.isEmpty() && QFileInfo::exists(config_path)) {
            *error = config_path + " exists already; not overwriting it";
            return false;
        }
    }
    if (!QDir().mkpath(dir)) {
        *error = "cannot create " + dir;
        return false;
    }
    QByteArray settings;
    QVector<listed_file> listed;
    for (const package_file &file : contents.files) {
        if (!write_encrypted(package.filePath(file.name), file.content, error))
            return false;
        settings += file.name.toLocal8Bit() + ' ' + QByteArray::number(file.format) + '\n';
        listed.append({file.name, file.format, -1});
    }
    return write_encrypted(package.filePath("updatelist"), contents.update_list, error) &&
           write_encrypted(package.filePath("version"), contents.version, error) &&
           write_manifest(dir, listed, error) &&
           (config_path.isEmpty() || write_file(config_path, settings, error));
}

bool write_manifest(const QString &dir, const QVector<listed_file> &files, QString *error)
{
    const read_result<checked_package> package = checked_quietly(dir, files);
    if (!package) {
        *error = package.failure;
        return false;
    }
    const QByteArray text = manifest_text(*package.value);
    const QString path = QDir(dir).filePath("manifest");
    QFile old(path);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == text)
        return true;
    return write_file(path, text, error) && remove_file(path + ".minisig", error);
}
