// Decrypts one 64 MiB buffer with the cipher's paths and with OpenSSL's EVP AES-256-ECB, and
// prints each path's speed and its ratio to OpenSSL's, measured in the same run. Run with
// OPENSSL_ia32cap=~0x200000200000000 to compare against OpenSSL without AES-NI.
#include <algorithm>
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
    std::vector<unsigned char> theirs(buffer_size), ours(buffer_size);
    bool openssl_ok = true;
    const double openssl =
        best_mb_per_s([&] { openssl_ok = decrypt_with_openssl(cipher, theirs); });
    if (!openssl_ok) {
        fprintf(stderr, "OpenSSL decryption failed\n");
        return 1;
    }
    printf("OpenSSL AES-256-ECB              %8.1f MB/s\n", openssl);

    unsigned char round_keys[240];
    expand_key(file_key, round_keys);
    decrypt_key key;
    prepare_decrypt_key(round_keys, &key);
    struct path {
        const char *name;
        std::function<void()> decrypt;
    };
    std::vector<path> paths = {
        {"decrypt_block, one at a time",
         [&] {
             for (size_t i = 0; i < buffer_size; i += 16)
                 decrypt_block(&cipher[i], &ours[i], round_keys);
         }},
        {"decrypt_blocks, portable core",
         [&] {
             decrypt_blocks(cipher.data(), ours.data(), buffer_size / 16, key, aes_path::portable);
         }},
    };
    if (fastest_aes_path() == aes_path::hardware)
        paths.push_back({"decrypt_blocks, AES instructions", [&] {
                             decrypt_blocks(cipher.data(), ours.data(), buffer_size / 16, key,
                                            aes_path::hardware);
                         }});
    for (const path &p : paths) {
        std::fill(ours.begin(), ours.end(), 0);
        const double speed = best_mb_per_s(p.decrypt);
        if (ours != theirs) {
            fprintf(stderr, "%s and OpenSSL disagree\n", p.name);
            return 1;
        }
        printf("%-32s %8.1f MB/s  ratio %.2f\n", p.name, speed, speed / openssl);
    }
    return 0;
}
