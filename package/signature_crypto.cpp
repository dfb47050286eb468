// The one place that calls libgcrypt.
#include "package/signature_crypto.h"

#include <gcrypt.h>
#include <mutex>

namespace
{

const int key_size = 32;
const int signature_size = 64;
const int digest_size = 64;

// Once per process: BLAKE2b came with 1.8. The tool holds no secret, so no secure memory.
bool library_ready()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        ready = gcry_check_version("1.8.0") != nullptr;
        if (ready) {
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
    });
    return ready;
}

class s_expression
{
public:
    ~s_expression() { gcry_sexp_release(value); }
    gcry_sexp_t value = nullptr;
};

const char *bytes_of(const QByteArray &bytes, int from = 0)
{
    return bytes.constData() + from;
}

} // namespace

QByteArray blake2b_512(const QByteArray &bytes)
{
    if (!library_ready())
        return {};
    QByteArray digest(digest_size, '\0');
    gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, digest.data(), bytes.constData(),
                        size_t(bytes.size()));
    return digest;
}

bool ed25519_verifies(const QByteArray &key, const QByteArray &signature, const QByteArray &message)
{
    if (key.size() != key_size || signature.size() != signature_size ||
        message.size() > ed25519_message_limit || !library_ready())
        return false;
    s_expression public_key, signature_value, data;
    const int half = signature_size / 2;
    return gcry_sexp_build(&public_key.value, nullptr,
                           "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))", key_size,
                           bytes_of(key)) == 0 &&
           gcry_sexp_build(&signature_value.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", half,
                           bytes_of(signature), half, bytes_of(signature, half)) == 0 &&
           gcry_sexp_build(&data.value, nullptr,
                           "(data (flags eddsa) (hash-algo sha512) (value %b))", message.size(),
                           bytes_of(message)) == 0 &&
           gcry_pk_verify(signature_value.value, data.value, public_key.value) == 0;
}
