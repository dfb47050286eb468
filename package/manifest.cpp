#include "package/manifest.h"

#include <QList>

namespace
{

const QByteArray header = "corvalen-manifest 1";

// What a manifest line is about: the file it names, or its first word.
QString subject(const QByteArray &line)
{
    const QList<QByteArray> words = line.split(' ');
    if (words.size() > 1 && words[0] == "file")
        return QString::fromUtf8(words[1]);
    if (words[0] == "version-file")
        return "version";
    if (words[0] == "version" || words[0] == "updatelist")
        return QString::fromLatin1(words[0]);
    return "manifest";
}

} // namespace

QByteArray manifest_text(const checked_package &package)
{
    QByteArrayList lines{header, "version " + package.version.toUtf8()};
    for (const checked_file &file : package.files)
        lines << "file " + file.name.toUtf8() + ' ' + QByteArray::number(file.format) + ' ' +
                     QByteArray::number(file.size) + ' ' + QByteArray::number(file.padding) + ' ' +
                     QByteArray::number(file.length) + ' ' + file.sha256.toHex();
    lines << "updatelist " + package.update_list_sha256.toHex()
          << "version-file " + package.version_sha256.toHex();
    return lines.join('\n') + '\n';
}

QString manifest_mismatch(const QByteArray &manifest, const QByteArray &derived)
{
    const QList<QByteArray> listed = manifest.split('\n'), held = derived.split('\n');
    for (int i = 0; i < qMax(listed.size(), held.size()); ++i) {
        const QByteArray mine = listed.value(i), wanted = held.value(i);
        if (mine == wanted)
            continue;
        // Named after what the package holds, unless the manifest lists a file more or goes on.
        const bool listed_more = mine.startsWith("file ") && !wanted.startsWith("file ");
        return subject(listed_more || wanted.isEmpty() ? mine : wanted);
    }
    return {};
}
