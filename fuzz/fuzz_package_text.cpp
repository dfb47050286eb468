// The package's text parsers on arbitrary bytes: update list, version text,
// settings lines, minisign keys and signature files.
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "package/minisign.h"
#include "package/settings_reader.h"
#include "package/update_list.h"
#include "package/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));

    const QList<QStringList> groups = parse_update_list(text);
    if (groups.size() > text.count(';') + 1)
        std::abort();
    for (const QStringList &group : groups)
        for (const QString &version : group)
            if (version.contains(';') || version.contains(',') || version.contains('{') ||
                version.contains('}') || version.contains(' '))
                std::abort();
    if (!groups.isEmpty() && !groups.first().isEmpty())
        group_permits(groups, groups.first().first(), text);

    if (is_accepted_version(text) != (text.count('.') == 2))
        std::abort();
    version_number(text);

    for (const QString &line : text.split('\n')) {
        std::unique_ptr<file_info> entry(parse_settings_line(line));
        if (entry && (entry->get_name().isEmpty() || entry->get_name().contains(' ')))
            std::abort();
    }

    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const std::optional<minisign_key> key = parse_public_key(bytes);
    if (key && (key->id.size() != 8 || key->key.size() != 32))
        std::abort();
    const read_result<minisign_signature> signature = parse_signature(bytes);
    if (signature &&
        (signature.value->key_id.size() != 8 || signature.value->signature.size() != 64 ||
         signature.value->global_signature.size() != 64))
        std::abort();
    return 0;
}
