#ifndef MINISIGN_H
#define MINISIGN_H

#include <QByteArray>
#include <QString>
#include <optional>

#include "package/read_result.h"

// A public key as minisign writes it: the base64 of "Ed", an 8-byte key ID and the 32-byte
// Ed25519 key.
struct minisign_key {
    QByteArray id;
    QByteArray key;
};

// A signature file (".minisig") as minisign writes it, in four lines: "untrusted comment: ...",
// the base64 of "ED", the key ID and the 64-byte Ed25519 signature of the file's BLAKE2b-512
// digest, "trusted comment: TEXT", and the base64 of the 64-byte signature of the first
// signature followed by TEXT.
struct minisign_signature {
    QByteArray key_id;
    QByteArray signature;
    QByteArray trusted_comment;
    QByteArray global_signature;
};

// The key one line holds, or none.
std::optional<minisign_key> parse_public_key(const QByteArray &line);

// The signature the file's text holds, or why it holds none. The legacy signature of the whole
// file ("Ed") is refused.
read_result<minisign_signature> parse_signature(const QByteArray &text);

// A key ID as minisign shows it: 16 upper-case hex digits, its last byte first.
QString key_id_text(const QByteArray &id);

#endif
