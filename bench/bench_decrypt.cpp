// Decrypts one 64 MiB buffer with decrypt_block and with OpenSSL's EVP AES-256-ECB and
// prints the speed of both. Run with OPENSSL_ia32cap=~0x200000200000000 to compare against
// OpenSSL without AES-NI.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <openssl/evp.h>

#include "cipher/aes.h"

namespace
{

const size_t buffer_size = size_t(64) << 20;
const int runs = 3;

// Best throughput of a few runs, in MB/s (10^6 bytes per second).
double best_mb_per_s(const std::function<void()> &decrypt)
{
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        decrypt();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        double rate = buffer_size / took.count() / 1e6;
        if (rate > best)
            best = rate;
    }
    return best;
}

void decrypt_with_core(const std::vector<unsigned char> &in, std::vector<unsigned char> &out)
{
    unsigned char round_keys[240];
    expand_key(file_key, round_keys);
    for (size_t i = 0; i < in.size(); i += 16)
        decrypt_block(&in[i], &out[i], round_keys);
}

bool decrypt_with_openssl(const std::vector<unsigned char> &in, std::vector<unsigned char> &out)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    bool ok = ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, file_key, nullptr) &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) &&
              EVP_DecryptUpdate(ctx, out.data(), &written, in.data(), int(in.size())) &&
              size_t(written) == in.size();
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

} // namespace

int main()
{
    std::vector<unsigned char> cipher(buffer_size);
    unsigned state = 12345;
    for (unsigned char &b : cipher) {
        state = state * 1103515245u + 12345u;
        b = (unsigned char)(state >> 16);
    }
    std::vector<unsigned char> ours(buffer_size), theirs(buffer_size);

    double core = best_mb_per_s([&] { decrypt_with_core(cipher, ours); });
    bool openssl_ok = true;
    double openssl = best_mb_per_s([&] { openssl_ok = decrypt_with_openssl(cipher, theirs); });
    if (!openssl_ok) {
        fprintf(stderr, "OpenSSL decryption failed\n");
        return 1;
    }
    if (ours != theirs) {
        fprintf(stderr, "decrypt_block and OpenSSL disagree\n");
        return 1;
    }
    printf("decrypt_block        %8.1f MB/s\n", core);
    printf("OpenSSL AES-256-ECB  %8.1f MB/s\n", openssl);
    printf("ratio                %8.2f\n", core / openssl);
    return 0;
}
