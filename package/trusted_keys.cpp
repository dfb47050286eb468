#include "package/trusted_keys.h"

#include <QDir>
#include <QFile>

#include "base/paths.h"

read_result<trusted_keys> read_trusted_keys(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return read_result<trusted_keys>::failed("error: cannot read trusted keys " +
                                                 QDir::toNativeSeparators(path) + "!");
    trusted_keys keys;
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("untrusted comment:"))
            continue;
        const std::optional<minisign_key> key = parse_public_key(line);
        if (!key)
            return read_result<trusted_keys>::failed(
                QString("error: line %1 of %2 is not a minisign public key!")
                    .arg(number)
                    .arg(QDir::toNativeSeparators(path)));
        keys.append(*key);
    }
    return read_result<trusted_keys>::ok(keys);
}

std::optional<read_result<trusted_keys>> working_trusted_keys()
{
    const QString path = join_path(QDir::currentPath(), "trusted_keys");
    if (!QFile::exists(path))
        return std::nullopt;
    return read_trusted_keys(path);
}
