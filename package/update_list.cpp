#include "package/update_list.h"

#include "app/dialog.h"
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

QList<QStringList> Dialog::read_update_list(const QString &path)
{
    const auto text = read_package_text(
        path, {"error: updatelist open failed!", "error: open file config failed"});
    return text ? parse_update_list(*text) : QList<QStringList>();
}
