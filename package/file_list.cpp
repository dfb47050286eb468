#include "package/file_list.h"

#include <QFileInfo>

#include "base/paths.h"

namespace
{

// The size as the table shows it: the low 32 bits of the file system's size.
int low_32_bit_size(const QString &path)
{
    return static_cast<int>(static_cast<quint32>(QFileInfo(path).size()));
}

} // namespace

QVector<file_info *> list_package_files(const QString &dir, const QVector<file_info *> &settings)
{
    QVector<file_info *> files;
    for (const file_info *setting : settings) {
        auto *entry = new file_info;
        entry->set_name(join_path(dir, setting->get_name()));
        entry->set_size(low_32_bit_size(entry->get_name()));
        entry->set_format(setting->get_format());
        files.append(entry);
    }
    return files;
}

QStringList file_row_texts(const file_info &entry)
{
    return {entry.get_name().split('/').last(), QString::number(entry.get_size()) + "Byte",
            entry.get_format() == 0 ? "TXT" : "HEX"};
}
