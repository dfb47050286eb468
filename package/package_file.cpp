#include "package/package_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QtDebug>
#include <climits>

#include "cipher/crypt_file.h"

QString bare_name(const QString &path)
{
    return path.split(QDir::separator()).last();
}

QString companion_path(const QString &package_dir, const QString &file_name)
{
    return package_dir + "//" + file_name + "_config";
}

read_result<int> read_padding_count(const QString &companion)
{
    QFile file(companion);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "open file" << companion << "failed";
        return read_result<int>::failed("error: open file config failed");
    }
    return read_result<int>::ok(QTextStream(&file).readLine().toInt());
}

read_result<int> image_length(const QString &path, const QString &package_dir, qint64 listed_size)
{
    const QString name = bare_name(path);
    const qint64 actual = QFileInfo(path).size();
    // The download command carries the length as a 32-bit number.
    if (actual > INT_MAX)
        return read_result<int>::failed("error: file " + name + " is too large!");
    const read_result<int> padding = read_padding_count(companion_path(package_dir, name));
    if (!padding)
        return padding;
    // The announced length must describe bytes the decrypted file really holds: a bad
    // companion, a cut file or a file changed since it was listed stops here, before the sensor
    // is told anything.
    if (actual != listed_size)
        return read_result<int>::failed(changed_message(name));
    switch (check_cipher_file(path.toLocal8Bit().constData(), *padding.value)) {
    case cipher_file_whole:
        return read_result<int>::ok(int(listed_size - *padding.value));
    case cipher_file_unreadable:
        return read_result<int>::failed("error: file open failed!");
    case cipher_file_cut:
        return read_result<int>::failed("error: file " + name + " is cut short!");
    case cipher_file_bad_padding:
        break;
    }
    return read_result<int>::failed("error: padding of " + name + " does not match " + name +
                                    "_config!");
}

QString changed_message(const QString &file_name)
{
    return "error: file " + file_name + " changed since it was listed!";
}

QString open_failure_detail(const QFile &file)
{
    return QDir::toNativeSeparators(file.fileName()) + ": " + file.errorString();
}
