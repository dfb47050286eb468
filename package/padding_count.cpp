#include "package/padding_count.h"

#include <QFile>
#include <QTextStream>
#include <QtDebug>

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
