#include "cipher/crypt_file.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace
{

const int block_size = 16;

void print_to_stdout(const char *line)
{
    fputs(line, stdout);
    fputc('\n', stdout);
}

crypt_line_output output = print_to_stdout;

// Formats one console line, without its line end, and hands it to the output. A short line
// needs no allocation, so even the message that memory ran out is shown.
void say(const char *format, ...)
{
    char small[256];
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int length = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    char *line = length < (int)sizeof small ? small : (char *)malloc((size_t)length + 1);
    if (length >= 0 && line != NULL) {
        if (line != small)
            vsnprintf(line, (size_t)length + 1, format, again);
        output(line);
    }
    if (line != small)
        free(line);
    va_end(again);
}

// Length of the open file, or -1 when it cannot be told or does not fit an int. Told in 64
// bits: Windows' ftell counts in 32 and takes a file of 4 GiB and more for a short one.
int file_size(FILE *fp)
{
#ifdef _WIN32
    if (_fseeki64(fp, 0, SEEK_END) != 0)
        return -1;
    const long long end = _ftelli64(fp);
#else
    if (fseeko(fp, 0, SEEK_END) != 0)
        return -1;
    const long long end = ftello(fp);
#endif
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

int min_of(int a, int b)
{
    return a < b ? a : b;
}

// The steps both entries begin with: the argument check, the command and file lines, and the
// file's length. Returns the length, or -1 after the message.
int announce(const char *cmd, const char *file)
{
    if (cmd == NULL || file == NULL) {
        say("参数非法");
        return -1;
    }
    say("cmd: %s", cmd);
    say("file: %s", file);

    FILE *fp = fopen(file, "rb");
    if (fp == NULL) {
        say("file open fail.");
        return -1;
    }
    int size = file_size(fp);
    fclose(fp);
    if (size < 0) {
        say("file open fail.");
        return -1;
    }
    say("size %d", size);
    return size;
}

bool refuses(const char *cmd)
{
    if (strcmp(cmd, "encry") != 0)
        return false;
    say("Encry not support");
    return true;
}

void prepare_file_key(decrypt_key *key)
{
    unsigned char round_keys[240];
    expand_key(file_key, round_keys);
    prepare_decrypt_key(round_keys, key);
}

// Opens the file for reading size bytes of plain data; 1 after the message when it does not.
int attach(crypt_stream *stream, int size, const char *ciper_filename)
{
    stream->fp = fopen(ciper_filename, "rb");
    if (stream->fp == NULL) {
        say("error: could not open ciper_filename file to read data.");
        return 1;
    }
    stream->size = size;
    stream->pos = 0;
    stream->blocks = size / block_size + (size % block_size != 0);
    stream->block = 0;
    stream->shrunk = 0;
    prepare_file_key(&stream->key);
    return 0;
}

// Every block but the last, straight into out and decrypted there.
int read_inner_blocks(crypt_stream *stream, unsigned char *out, int capacity)
{
    int count = min_of(capacity / block_size, stream->blocks - 1 - stream->block);
    if (count <= 0)
        return 0;
    size_t wanted = (size_t)count * block_size;
    size_t got = fread(out, 1, wanted, stream->fp);
    count = (int)(got / block_size);
    decrypt_blocks(out, out, (size_t)count, stream->key);
    stream->block += count;
    stream->pos += count * block_size;
    if (got < wanted)
        stream->shrunk = 1;
    return count * block_size;
}

// The last block keeps only what its padding byte says, and never more than the length
// measured: a short or grown file must not push writes past it.
int read_last_block(crypt_stream *stream, unsigned char *out, int capacity)
{
    if (stream->block != stream->blocks - 1 || capacity <= 0)
        return 0;
    unsigned char in[block_size] = {0};
    if (fread(in, 1, block_size, stream->fp) == 0) {
        stream->shrunk = 1;
        return 0;
    }
    unsigned char last[block_size];
    decrypt_blocks(in, last, 1, stream->key);
    stream->block += 1;
    int keep = min_of(min_of(last_block_keep(last), stream->size - stream->pos), capacity);
    memcpy(out, last, (size_t)keep);
    stream->pos += keep;
    return keep;
}

// Each block is enciphered by itself: the last one alone holds the padding, padding bytes of
// that value.
cipher_file_state check_last_block(FILE *fp, int size, int padding)
{
    unsigned char last[block_size];
    if (fseek(fp, size - block_size, SEEK_SET) != 0 ||
        fread(last, 1, block_size, fp) != (size_t)block_size)
        return cipher_file_unreadable;
    decrypt_key key;
    prepare_file_key(&key);
    decrypt_blocks(last, last, 1, key);
    for (int i = block_size - padding; i < block_size; ++i)
        if (last[i] != padding)
            return cipher_file_bad_padding;
    return cipher_file_whole;
}

} // namespace

crypt_line_output crypt_set_output(crypt_line_output line_output)
{
    const crypt_line_output before = output;
    output = line_output ? line_output : print_to_stdout;
    return before;
}

int crypt_file(const char *cmd, const char *file, unsigned char **plain)
{
    int size = announce(cmd, file);
    if (size < 0)
        return 1;

    // One zero byte more than the file, so the plain text always reads as terminated text.
    *plain = (unsigned char *)calloc((size_t)size + 1, 1);
    if (*plain == NULL) {
        say("Malloc plain memory fail\r");
        return 1;
    }
    if (refuses(cmd))
        return 1;
    say("Decry %s", file);
    decrypt_file(*plain, size, file);
    return 0;
}

void decrypt_file(unsigned char *plain, int size, const char *ciper_filename)
{
    if (plain == NULL) {
        say("error: plain memory NULL\r");
        return;
    }
    crypt_stream stream;
    if (attach(&stream, size, ciper_filename) != 0)
        return;
    int pos = 0;
    for (int n; (n = crypt_stream_read(&stream, plain + pos, size - pos)) > 0;)
        pos += n;
    // A file that shrank since it was measured leaves the rest of the buffer zero, not stale.
    memset(plain + pos, 0, (size_t)(size - pos));
    crypt_stream_close(&stream);
}

int crypt_stream_open(crypt_stream *stream, const char *cmd, const char *file)
{
    int size = announce(cmd, file);
    if (size < 0 || refuses(cmd))
        return 1;
    say("Decry %s", file);
    return attach(stream, size, file);
}

int crypt_stream_read(crypt_stream *stream, unsigned char *out, int capacity)
{
    if (stream->shrunk)
        return 0;
    int n = read_inner_blocks(stream, out, capacity);
    if (stream->shrunk)
        return n;
    n += read_last_block(stream, out + n, capacity - n);
    if (stream->shrunk || stream->block < stream->blocks)
        return n;
    int zeros = min_of(capacity - n, stream->size - stream->pos);
    memset(out + n, 0, (size_t)zeros);
    stream->pos += zeros;
    return n + zeros;
}

void crypt_stream_close(crypt_stream *stream)
{
    fclose(stream->fp);
    stream->fp = NULL;
}

cipher_file_state check_cipher_file(const char *file, int padding)
{
    FILE *fp = fopen(file, "rb");
    if (fp == NULL)
        return cipher_file_unreadable;
    const int size = file_size(fp);
    cipher_file_state state = cipher_file_whole;
    if (size < 0)
        state = cipher_file_unreadable;
    else if (size % block_size != 0)
        state = cipher_file_cut;
    else if (padding < 0 || padding > block_size || padding > size)
        state = cipher_file_bad_padding;
    else if (padding > 0)
        state = check_last_block(fp, size, padding);
    fclose(fp);
    return state;
}
