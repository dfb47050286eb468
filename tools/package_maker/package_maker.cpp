#include "package_maker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "cipher/aes.h"

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
    QStringList names = {"updatelist", "version"};
    for (const package_file &file : contents.files)
        names << file.name;
    return names;
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
    for (const package_file &file : contents.files) {
        if (!write_encrypted(package.filePath(file.name), file.content, error))
            return false;
        settings += file.name.toLocal8Bit() + ' ' + QByteArray::number(file.format) + '\n';
    }
    return write_encrypted(package.filePath("updatelist"), contents.update_list, error) &&
           write_encrypted(package.filePath("version"), contents.version, error) &&
           (config_path.isEmpty() || write_file(config_path, settings, error));
}
