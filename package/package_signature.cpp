#include "package/package_signature.h"

#include "package/signature_crypto.h"

namespace
{

package_signature refused(package_signature signature, const QString &reason)
{
    signature.state = package_signature::refused;
    signature.reason = reason;
    return signature;
}

// Both signatures: the file's digest by the key, and the trusted comment with it.
bool verifies(const minisign_key &key, const minisign_signature &signature,
              const QByteArray &manifest)
{
    return ed25519_verifies(key.key, signature.signature, blake2b_512(manifest)) &&
           ed25519_verifies(key.key, signature.global_signature,
                            signature.signature + signature.trusted_comment);
}

} // namespace

package_signature check_signature(const std::optional<QByteArray> &manifest,
                                  const std::optional<QByteArray> &signature_file,
                                  const trusted_keys *trusted)
{
    package_signature result;
    if (!manifest || !signature_file)
        return trusted ? refused(result, manifest ? "no manifest.minisig" : "no manifest") : result;
    const read_result<minisign_signature> signature = parse_signature(*signature_file);
    if (!signature)
        return trusted ? refused(result, "manifest.minisig: " + signature.failure) : result;
    result.key_id = key_id_text(signature.value->key_id);
    result.trusted_comment = QString::fromUtf8(signature.value->trusted_comment);
    result.state = package_signature::unverified;
    if (!trusted)
        return result;
    bool known = false;
    for (const minisign_key &key : *trusted) {
        known = known || key.id == signature.value->key_id;
        if (key.id == signature.value->key_id && verifies(key, *signature.value, *manifest)) {
            result.state = package_signature::trusted;
            return result;
        }
    }
    return refused(result, known ? "the signature by key " + result.key_id + " does not verify"
                                 : "key " + result.key_id + " is not trusted");
}

QString unsigned_note(const package_signature &signature)
{
    return signature.key_id.isEmpty()
               ? "note: package not signed"
               : "note: package signed by key " + signature.key_id + ", no trusted keys given";
}
