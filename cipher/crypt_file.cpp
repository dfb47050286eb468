#include "cipher/crypt_file.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

const int block_size = 16;

// Length of the open file, or -1 when it cannot be told or does not fit an int.
int file_size(FILE *fp)
{
    if (fseek(fp, 0, SEEK_END) != 0)
        return -1;
    long end = ftell(fp);
    if (end < 0 || end > INT_MAX)
        return -1;
    return (int)end;
}

// How many bytes of the last plain block are plain text, from its final (padding) byte.
int last_block_keep(const unsigned char *block)
{
    int pad = block[block_size - 1];
    return pad < block_size ? block_size - pad : 0;
}

} // namespace

int crypt_file(const char *cmd, const char *file, unsigned char **plain)
{
    if (cmd == NULL || file == NULL) {
        puts("参数非法");
        return 1;
    }
    printf("cmd: %s\n", cmd);
    printf("file: %s\n", file);

    FILE *fp = fopen(file, "rb");
    if (fp == NULL) {
        puts("file open fail.");
        return 1;
    }
    int size = file_size(fp);
    fclose(fp);
    if (size < 0) {
        puts("file open fail.");
        return 1;
    }
    printf("size %d\n", size);

    // One zero byte more than the file, so the plain text always reads as terminated text.
    *plain = (unsigned char *)calloc((size_t)size + 1, 1);
    if (*plain == NULL) {
        puts("Malloc plain memory fail\r");
        return 1;
    }
    if (strcmp(cmd, "encry") == 0) {
        puts("Encry not support");
        return 1;
    }
    printf("Decry %s\n", file);
    decrypt_file(*plain, size, file);
    return 0;
}

void decrypt_file(unsigned char *plain, int size, const char *ciper_filename)
{
    if (plain == NULL) {
        puts("error: plain memory NULL\r");
        return;
    }
    FILE *fp = fopen(ciper_filename, "rb");
    if (fp == NULL) {
        puts("error: could not open ciper_filename file to read data.");
        return;
    }
    unsigned char in[block_size] = {0};
    unsigned char out[block_size];
    unsigned char round_keys[240];
    expand_key(file_key, round_keys);

    // Only the blocks measured by size are read, and no copy runs past size bytes: the file
    // may have changed since it was measured, and a short last block keeps at most its length.
    int blocks = size > 0 ? size / block_size + (size % block_size != 0) : 0;
    int pos = 0;
    for (int k = 1; k <= blocks && fread(in, 1, block_size, fp) > 0; ++k) {
        decrypt_block(in, out, round_keys);
        int keep = k == blocks ? last_block_keep(out) : block_size;
        if (keep > size - pos)
            keep = size - pos;
        memcpy(plain + pos, out, (size_t)keep);
        pos += keep;
        memset(in, 0, sizeof in);
    }
    // A file that shrank since it was measured leaves the rest of the buffer zero, not stale.
    if (pos < size)
        memset(plain + pos, 0, (size_t)(size - pos));
    fclose(fp);
}
