#include "package/minisign.h"

#include <QList>
#include <algorithm>

namespace
{

const int algorithm_size = 2;
const int key_id_size = 8;
const int key_size = 32;
const int signature_size = 64;
const QByteArray untrusted_prefix = "untrusted comment:";
const QByteArray trusted_prefix = "trusted comment: ";

// The bytes of exactly size the text is the base64 of, written as base64 writes them.
std::optional<QByteArray> base64_of_size(const QByteArray &text, int size)
{
    const QByteArray bytes = QByteArray::fromBase64(text);
    if (bytes.size() != size || bytes.toBase64() != text)
        return std::nullopt;
    return bytes;
}

// The text's lines without their ends, CR LF or LF.
QList<QByteArray> lines_of(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

} // namespace

std::optional<minisign_key> parse_public_key(const QByteArray &line)
{
    const auto bytes = base64_of_size(line.trimmed(), algorithm_size + key_id_size + key_size);
    if (!bytes || !bytes->startsWith("Ed"))
        return std::nullopt;
    return minisign_key{bytes->mid(algorithm_size, key_id_size),
                        bytes->mid(algorithm_size + key_id_size)};
}

read_result<minisign_signature> parse_signature(const QByteArray &text)
{
    using result = read_result<minisign_signature>;
    const QList<QByteArray> lines = lines_of(text);
    if (lines.size() != 4 || !lines[0].startsWith(untrusted_prefix) ||
        !lines[2].startsWith(trusted_prefix))
        return result::failed("not a minisign signature file");
    const auto signed_hash =
        base64_of_size(lines[1], algorithm_size + key_id_size + signature_size);
    const auto global = base64_of_size(lines[3], signature_size);
    if (!signed_hash || !global)
        return result::failed("not a minisign signature file");
    if (!signed_hash->startsWith("ED"))
        return result::failed("a legacy signature, not of the file's BLAKE2b-512 digest");
    return result::ok({signed_hash->mid(algorithm_size, key_id_size),
                       signed_hash->mid(algorithm_size + key_id_size),
                       lines[2].mid(trusted_prefix.size()), *global});
}

QString key_id_text(const QByteArray &id)
{
    QByteArray reversed = id;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}
