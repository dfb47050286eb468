#ifndef CRYPT_FILE_H
#define CRYPT_FILE_H

#include "cipher/aes.h"

// Turns an encrypted package file into a new plain buffer owned by the caller: the file's
// length plus one bytes, the plain text followed by zero bytes to the end.
// Returns 0 on success, 1 on failure or refusal.
int crypt_file(const char *cmd, const char *file, unsigned char **plain);

// Decrypts the file into plain, which holds at least size bytes.
void decrypt_file(unsigned char *plain, int size, const char *ciper_filename);

#endif
