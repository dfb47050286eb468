#ifndef CRYPT_FILE_H
#define CRYPT_FILE_H

#include <cstdio>

#include "cipher/aes.h"

// Receives each console line of the entries below, without its line end.
typedef void (*crypt_line_output)(const char *line);

// Where the console lines go from now on: standard output by default, or when output is null.
// Set it before any decryption starts, since every thread reads it. Returns where they went.
crypt_line_output crypt_set_output(crypt_line_output output);

// Turns an encrypted package file into a new plain buffer owned by the caller: the file's
// length plus one bytes, the plain text followed by zero bytes to the end.
// Returns 0 on success, 1 on failure or refusal.
int crypt_file(const char *cmd, const char *file, unsigned char **plain);

// Decrypts the file into plain, which holds at least size bytes.
void decrypt_file(unsigned char *plain, int size, const char *ciper_filename);

// An encrypted file decrypted piece by piece, for images too large to hold whole. It yields
// the bytes of crypt_file's buffer: the plain text, then zeros up to the length the file had
// when it was opened.
struct crypt_stream {
    FILE *fp;
    int size;   // the file's length when it was opened: how many bytes the stream yields
    int pos;    // bytes yielded so far
    int blocks; // cipher blocks that length spans
    int block;  // cipher blocks read so far
    int shrunk; // the file ended before its length: nothing more is yielded
    decrypt_key key;
};

// Prints the console lines crypt_file prints for the same call and opens the file.
// Returns 0, or 1 after crypt_file's message when the file cannot be read or cmd refuses.
int crypt_stream_open(crypt_stream *stream, const char *cmd, const char *file);

// Decrypts the next bytes into out: capacity bytes when that many are left, else all that
// are. capacity is a multiple of 16, or at least what is left. Returns the count; 0 at the
// end, or short when the file shrank since it was opened.
int crypt_stream_read(crypt_stream *stream, unsigned char *out, int capacity);

void crypt_stream_close(crypt_stream *stream);

// What check_cipher_file found of an encrypted file and its padding count.
enum cipher_file_state {
    cipher_file_whole,      // whole blocks, and the count agrees with the last one
    cipher_file_unreadable, // it does not open, or its length does not fit an int
    cipher_file_cut,        // its length is not a multiple of 16: the copy was cut short
    cipher_file_bad_padding // the count is outside 0 to 16, beyond the file, or not its last
                            // plain bytes (a count N from 1 to 16 names N bytes of value N)
};

// Checks that the file is whole blocks and that padding agrees with it; 0 claims no padding
// and is not checked. Only the last block is decrypted; nothing is printed.
cipher_file_state check_cipher_file(const char *file, int padding);

#endif
