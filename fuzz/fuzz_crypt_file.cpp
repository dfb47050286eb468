// Arbitrary cipher file contents, and a measured size that differs from the
// real length (a file that grew or shrank between measurement and read).
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cipher/crypt_file.h"

namespace
{

const QByteArray &cipher_path()
{
    static QTemporaryDir dir;
    static const QByteArray path = QDir(dir.path()).filePath("cipher").toLocal8Bit();
    return path;
}

bool write_file(const char *path, const uint8_t *data, size_t size)
{
    FILE *fp = std::fopen(path, "wb");
    if (!fp)
        return false;
    const bool ok = std::fwrite(data, 1, size, fp) == size;
    return std::fclose(fp) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const char *path = cipher_path().constData();
    const int skew = static_cast<int8_t>(data[0]);
    const size_t length = size - 1;
    if (!write_file(path, data + 1, length))
        std::abort();

    unsigned char *plain = nullptr;
    if (crypt_file("decry", path, &plain) != 0 || !plain)
        std::abort();
    // The buffer is one byte longer than the file and always ends in zero.
    if (plain[length] != 0)
        std::abort();
    std::free(plain);
    // The padding check reads the last block alone, whatever the length and count.
    check_cipher_file(path, skew);

    // Exactly the measured size, so that any write past it is caught.
    const int measured = static_cast<int>(length) + skew;
    if (measured > 0) {
        auto *buffer = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(measured)));
        decrypt_file(buffer, measured, path);
        std::free(buffer);
    }
    return 0;
}
