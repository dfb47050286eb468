#include "package/update_list.h"

#include "package/package_text.h"

QList<QStringList> parse_update_list(const QString &text)
{
    QString flat = text;
    flat.remove("\r\n").remove(' ');
    QList<QStringList> groups;
    for (QString record : flat.split(';')) {
        if (record.isEmpty())
            continue;
        record.remove('{').remove('}');
        groups.append(record.split(','));
    }
    return groups;
}

bool group_permits(const QList<QStringList> &groups, const QString &from, const QString &to)
{
    for (const QStringList &group : groups)
        if (group.contains(from) && group.contains(to))
            return true;
    return false;
}

read_result<QString> read_update_list_text(const QString &path)
{
    return read_package_text(path,
                             {"error: updatelist open failed!", "error: open file config failed"});
}

read_result<QList<QStringList>> read_update_list_file(const QString &path)
{
    const auto text = read_update_list_text(path);
    if (!text)
        return read_result<QList<QStringList>>::failed(text.failure);
    return read_result<QList<QStringList>>::ok(parse_update_list(*text.value));
}
