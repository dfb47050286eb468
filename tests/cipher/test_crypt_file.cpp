#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cipher/crypt_file.h"
#include "stdout_capture.h"

namespace
{

// A plain file and its cipher made by the openssl command line, an implementation of its
// own, on the build machine (make_openssl_vectors.sh).
struct reference {
    QByteArray plain;
    QByteArray cipher;
};

QByteArray read_vector_file(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

reference openssl_reference(const QString &name)
{
    const QString base = QStringLiteral(CORVALEN_OPENSSL_VECTORS "/") + name;
    return {read_vector_file(base + ".plain"), read_vector_file(base + ".cipher")};
}

struct decrypted {
    int result;
    QByteArray plain; // the whole returned buffer, its closing zero byte included
    QByteArray console;
};

decrypted run_crypt_file(const char *cmd, const QString &path, int size)
{
    unsigned char *plain = nullptr;
    stdout_capture capture;
    decrypted d;
    d.result = crypt_file(cmd, path.toLocal8Bit().constData(), &plain);
    d.console = capture.take();
    if (plain)
        d.plain = QByteArray((const char *)plain, size + 1);
    free(plain);
    return d;
}

QByteArray console_of_success(const char *cmd, const QString &path, int size)
{
    const QByteArray p = path.toLocal8Bit();
    return "cmd: " + QByteArray(cmd) + "\nfile: " + p + "\nsize " + QByteArray::number(size) +
           "\nDecry " + p + "\n";
}

QByteArray zeros(int n)
{
    return QByteArray(n, '\0');
}

// A piece of length bytes (up to 15) whose zero-filled block deciphers to a final byte that
// keeps more than length bytes; empty if none is found.
QByteArray overflowing_piece(int length)
{
    unsigned char round_keys[240];
    expand_key(file_key, round_keys);
    const int guesses = length > 1 ? 1 << 16 : length == 1 ? 1 << 8 : 0;
    for (int guess = 0; guess < guesses; ++guess) {
        unsigned char in[16] = {(unsigned char)guess, (unsigned char)(length > 1 ? guess >> 8 : 0)};
        unsigned char out[16];
        decrypt_block(in, out, round_keys);
        if (out[15] < 16 - length)
            return QByteArray((const char *)in, length);
    }
    return QByteArray();
}

} // namespace

class test_crypt_file : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void reads_files_of_openssl_data();
    void reads_files_of_openssl();
    void last_block_padding_data();
    void last_block_padding();
    void console_lines_and_results();
    void encry_refusal_hands_over_buffer();
    void writes_stay_inside_buffer_data();
    void writes_stay_inside_buffer();
    void oversized_file_is_refused();

private:
    QString write_file(const QString &name, const QByteArray &content);
    QTemporaryDir dir;
};

void test_crypt_file::init()
{
    QVERIFY(dir.isValid());
}

QString test_crypt_file::write_file(const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void test_crypt_file::reads_files_of_openssl_data()
{
    QTest::addColumn<int>("length");
    for (int length : {0, 1, 15, 16, 17, 2047, 2048, 4096, 1 << 20})
        QTest::newRow(qPrintable(QString::number(length))) << length;
}

void test_crypt_file::reads_files_of_openssl()
{
    QFETCH(int, length);
    const auto [plain, cipher] = openssl_reference(QString("length-%1").arg(length));
    QCOMPARE(plain.size(), length);
    const QString path = write_file("package", cipher);

    const decrypted d = run_crypt_file("decry", path, cipher.size());
    QCOMPARE(d.result, 0);
    QCOMPARE(d.console, console_of_success("decry", path, cipher.size()));
    QVERIFY(d.plain.startsWith(plain));
    QCOMPARE(d.plain.mid(length), zeros(cipher.size() + 1 - length));
}

void test_crypt_file::last_block_padding_data()
{
    QTest::addColumn<int>("final_byte");
    QTest::addColumn<int>("kept");
    QTest::newRow("0x00 keeps the whole block") << 0x00 << 16;
    QTest::newRow("0x05 keeps 11") << 0x05 << 11;
    QTest::newRow("0x10 keeps none") << 0x10 << 0;
    QTest::newRow("0x11 keeps none") << 0x11 << 0;
    QTest::newRow("0xFF keeps none") << 0xFF << 0;
}

void test_crypt_file::last_block_padding()
{
    QFETCH(int, final_byte);
    QFETCH(int, kept);
    const auto [plain, cipher] =
        openssl_reference(QString("final-%1").arg(final_byte, 2, 16, QChar('0')));
    QCOMPARE(plain.size(), 32);
    QCOMPARE(int((unsigned char)plain[31]), final_byte);
    QCOMPARE(cipher.size(), 32);

    const decrypted d = run_crypt_file("decry", write_file("version", cipher), 32);
    QCOMPARE(d.result, 0);
    QCOMPARE(d.plain, plain.left(16 + kept) + zeros(17 - kept));
}

void test_crypt_file::console_lines_and_results()
{
    const auto [plain, cipher] = openssl_reference("version");
    QCOMPARE(plain, QByteArray("c2.0.7"));
    const QString path = write_file("version", cipher);

    for (const char *cmd : {"decry", "Encry", "ENCRY", "encry ", "encryp"}) {
        const decrypted d = run_crypt_file(cmd, path, 16);
        QCOMPARE(d.result, 0);
        QCOMPARE(d.console, console_of_success(cmd, path, 16));
        QCOMPARE(d.plain, plain + zeros(11));
    }

    const QString missing = dir.filePath("missing");
    unsigned char untouched = 0;
    unsigned char *plain_ptr = &untouched;
    struct refusal {
        const char *cmd;
        QByteArray file;
        QByteArray console;
    };
    const QByteArray missing_local = missing.toLocal8Bit();
    for (const refusal &r : {
             refusal{nullptr, path.toLocal8Bit(), "参数非法\n"},
             refusal{"decry", QByteArray(), "参数非法\n"},
             refusal{"decry", missing_local,
                     "cmd: decry\nfile: " + missing_local + "\nfile open fail.\n"},
         }) {
        stdout_capture capture;
        const int result =
            crypt_file(r.cmd, r.file.isNull() ? nullptr : r.file.constData(), &plain_ptr);
        QCOMPARE(capture.take(), r.console);
        QCOMPARE(result, 1);
        QCOMPARE(plain_ptr, &untouched);
    }

    unsigned char buffer[16] = {0};
    stdout_capture capture;
    decrypt_file(nullptr, 16, path.toLocal8Bit().constData());
    decrypt_file(buffer, 16, missing_local.constData());
    QCOMPARE(capture.take(),
             QByteArray("error: plain memory NULL\r\n"
                        "error: could not open ciper_filename file to read data.\n"));
    QCOMPARE(QByteArray((const char *)buffer, 16), zeros(16));
}

void test_crypt_file::encry_refusal_hands_over_buffer()
{
    const QString path = write_file("updatelist", openssl_reference("updatelist").cipher);
    const decrypted d = run_crypt_file("encry", path, 16);
    QCOMPARE(d.result, 1);
    const QByteArray p = path.toLocal8Bit();
    QCOMPARE(d.console, "cmd: encry\nfile: " + p + "\nsize 16\nEncry not support\n");
    QCOMPARE(d.plain, zeros(17));
}

void test_crypt_file::writes_stay_inside_buffer_data()
{
    // The file is the first `whole` bytes of three cipher blocks whose plain blocks end in 0x00
    // (kept whole), then a short piece whose zero-filled block claims to keep more bytes than
    // the piece has. The reader is told `size`, which the file may not match, as when it changed
    // after being measured. The buffer is exactly size bytes of stale data: the address
    // sanitizer reports any write past it, and what follows the plain text must be zero.
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("whole");
    QTest::addColumn<int>("piece");
    QTest::addColumn<int>("plain_bytes");
    QTest::addColumn<bool>("zero_tail");
    QTest::newRow("empty file") << 0 << 0 << 0 << 0 << true;
    QTest::newRow("one byte") << 1 << 0 << 1 << 0 << false;
    QTest::newRow("short last block of 1") << 33 << 32 << 1 << 32 << false;
    QTest::newRow("short last block of 15") << 47 << 32 << 15 << 32 << false;
    QTest::newRow("grew by blocks") << 16 << 48 << 0 << 16 << true;
    QTest::newRow("grew within a block") << 20 << 48 << 0 << 20 << true;
    QTest::newRow("shrank") << 48 << 32 << 0 << 32 << true;
}

void test_crypt_file::writes_stay_inside_buffer()
{
    QFETCH(int, size);
    QFETCH(int, whole);
    QFETCH(int, piece);
    QFETCH(int, plain_bytes);
    QFETCH(bool, zero_tail);
    const auto [plain, blocks] = openssl_reference("blocks");
    for (int end = 15; end < 48; end += 16)
        QCOMPARE(plain[end], '\0');
    QCOMPARE(blocks.size(), 48);
    const QByteArray tail = overflowing_piece(piece);
    QCOMPARE(tail.size(), piece);
    const QString path = write_file("image", blocks.left(whole) + tail);

    unsigned char *buffer = (unsigned char *)malloc(size ? size : 1);
    memset(buffer, 0xA5, size);
    stdout_capture capture;
    decrypt_file(buffer, size, path.toLocal8Bit().constData());
    QCOMPARE(capture.take(), QByteArray());
    const QByteArray got((const char *)buffer, size);
    free(buffer);
    QCOMPARE(got.left(plain_bytes).toHex(), plain.left(plain_bytes).toHex());
    if (zero_tail)
        QCOMPARE(got.mid(plain_bytes), zeros(size - plain_bytes));
}

void test_crypt_file::oversized_file_is_refused()
{
    // A sparse file beyond what an int can count: refused before any allocation.
    const QString path = write_file("huge", QByteArray());
    QFile huge(path);
    QVERIFY(huge.resize(qint64(INT_MAX) + 2));
    unsigned char untouched = 0;
    unsigned char *plain = &untouched;
    const QByteArray p = path.toLocal8Bit();
    stdout_capture capture;
    const int result = crypt_file("decry", p.constData(), &plain);
    QCOMPARE(capture.take(), "cmd: decry\nfile: " + p + "\nfile open fail.\n");
    QCOMPARE(result, 1);
    QCOMPARE(plain, &untouched);
    huge.remove();
}

QTEST_GUILESS_MAIN(test_crypt_file)
#include "test_crypt_file.moc"
