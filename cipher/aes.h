#ifndef AES_H
#define AES_H

// AES-256 (FIPS-197) on single 16-byte blocks.
extern const unsigned char file_key[32];

void expand_key(const unsigned char *key, unsigned char *round_keys);
void encrypt_block(const unsigned char *in, unsigned char *out, const unsigned char *round_keys);
void decrypt_block(const unsigned char *in, unsigned char *out, const unsigned char *round_keys);

#endif
