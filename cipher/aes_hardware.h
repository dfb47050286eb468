#ifndef AES_HARDWARE_H
#define AES_HARDWARE_H

// Decryption with the AES instructions of x86 processors (AES-NI), in builds that may use them.
#if !defined(CORVALEN_PORTABLE_AES) &&                                                             \
    (defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86))
#define CORVALEN_AES_NI 1

#include <cstddef>

bool processor_has_aes_ni();

// keys as in decrypt_key::hardware. Only where processor_has_aes_ni().
void decrypt_blocks_aes_ni(const unsigned char *in, unsigned char *out, size_t blocks,
                           const unsigned char keys[15][16]);

#endif

#endif
