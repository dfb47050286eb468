#ifndef SIGNATURE_CRYPTO_H
#define SIGNATURE_CRYPTO_H

#include <QByteArray>

// The longest message ed25519_verifies takes. The library builds its messages with a length
// that silently stops at this many bytes: past it, a signature over the first bytes would pass.
const int ed25519_message_limit = 65535;

// The BLAKE2b-512 digest (64 bytes) of the bytes; empty when the library cannot give one.
QByteArray blake2b_512(const QByteArray &bytes);

// Whether signature (64 bytes) is the Ed25519 signature of message by key (32 bytes). False for
// any other length, and for a message over ed25519_message_limit.
bool ed25519_verifies(const QByteArray &key, const QByteArray &signature,
                      const QByteArray &message);

#endif
