#ifndef AES_H
#define AES_H

#include <cstddef>
#include <cstdint>

// AES-256 (FIPS-197) on single 16-byte blocks.
extern const unsigned char file_key[32];

void expand_key(const unsigned char *key, unsigned char *round_keys);
void encrypt_block(const unsigned char *in, unsigned char *out, const unsigned char *round_keys);
void decrypt_block(const unsigned char *in, unsigned char *out, const unsigned char *round_keys);

// Decryption of many blocks at a time, for whole files.

// expand_key's round keys rearranged once per key for decrypt_blocks.
struct decrypt_key {
    // Portable core: round r's key in the layout the state has when it is added.
    uint64_t words[15][4];
    // AES instructions: the keys in the order they are applied, the inner ones passed through
    // InvMixColumns.
    unsigned char hardware[15][16];
};
void prepare_decrypt_key(const unsigned char *round_keys, decrypt_key *key);

// How decrypt_blocks works: on the portable core, or with the processor's AES instructions.
enum class aes_path { portable, hardware };

// hardware where the processor has AES instructions and the build may use them (x86, without
// CORVALEN_PORTABLE_AES); portable otherwise.
aes_path fastest_aes_path();

// Decrypts `blocks` 16-byte blocks, each by itself, from in to out, which are the same buffer
// or do not overlap. A hardware path where fastest_aes_path() is portable takes the portable
// one.
void decrypt_blocks(const unsigned char *in, unsigned char *out, size_t blocks,
                    const decrypt_key &key, aes_path path = fastest_aes_path());

#endif
