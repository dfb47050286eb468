#include "package/package_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QtDebug>
#include <climits>

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
    // companion or a file changed since it was listed stops here, before the sensor is told
    // anything.
    const int count = *padding.value;
    if (count < 0 || count > listed_size)
        return read_result<int>::failed("error: invalid padding count " + QString::number(count) +
                                        " for " + name + "!");
    if (actual != listed_size)
        return read_result<int>::failed(changed_message(name));
    return read_result<int>::ok(int(listed_size - count));
}

QString changed_message(const QString &file_name)
{
    return "error: file " + file_name + " changed since it was listed!";
}

QString open_failure_detail(const QFile &file)
{
    return QDir::toNativeSeparators(file.fileName()) + ": " + file.errorString();
}
