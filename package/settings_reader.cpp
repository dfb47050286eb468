#include "package/settings_reader.h"

#include <QFile>
#include <QTextCodec>
#include <QTextStream>
#include <QtDebug>

#include "base/console.h"

namespace
{

// UTF-8 when the file is valid UTF-8, else the system's code page: an editor on a Chinese
// Windows saves GBK, while the tool's own 8-bit code page is UTF-8.
QString settings_text(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    return from_system_code_page(bytes);
}

} // namespace

file_info *parse_settings_line(const QString &line)
{
    const QStringList pieces = line.split(' ');
    if (pieces.first().isEmpty())
        return nullptr;
    auto *entry = new file_info;
    entry->set_name(pieces.first());
    entry->set_format(pieces.value(1).toInt());
    return entry;
}

read_result<QVector<file_info *>> settings_reader::read_config(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return read_result<QVector<file_info *>>::failed(
            QString::fromUtf8("错误: 配置文件打开失败!"));
    QString text = settings_text(file.readAll());
    QVector<file_info *> entries;
    QTextStream stream(&text, QIODevice::ReadOnly);
    while (!stream.atEnd())
        if (file_info *entry = parse_settings_line(stream.readLine()))
            entries.append(entry);
    return read_result<QVector<file_info *>>::ok(entries);
}

void settings_reader::dump_file_list(const QVector<file_info *> &list)
{
    for (const file_info *entry : list)
        qDebug() << entry->get_name() << entry->get_size() << "Byte" << entry->get_format();
}
