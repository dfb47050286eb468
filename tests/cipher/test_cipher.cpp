#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

#include "cipher/aes.h"
#include "cipher/crypt_file.h"
#include "stdout_capture.h"

Q_DECLARE_METATYPE(aes_path)

namespace
{

const unsigned char *bytes(const QByteArray &a)
{
    return (const unsigned char *)a.constData();
}

QByteArray round_keys_of(const QByteArray &key)
{
    QByteArray round_keys(240, '\0');
    expand_key(bytes(key), (unsigned char *)round_keys.data());
    return round_keys;
}

// A reference file made on the build machine by the openssl command line, an implementation
// of its own (make_openssl_vectors.sh): NAME.plain and its cipher NAME.cipher.
QByteArray openssl_file(const QString &name)
{
    QFile file(QStringLiteral(CORVALEN_OPENSSL_VECTORS "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(name));
    return file.readAll();
}

QByteArray zeros(int n)
{
    return QByteArray(n, '\0');
}

QByteArray console_of_success(const char *cmd, const QByteArray &file, int size)
{
    return "cmd: " + QByteArray(cmd) + "\nfile: " + file + "\nsize " + QByteArray::number(size) +
           "\nDecry " + file + "\n";
}

} // namespace

class test_cipher : public QObject
{
    Q_OBJECT

private slots:
    void standard_example_both_ways();
    void decrypt_blocks_agrees_with_decrypt_block_data();
    void decrypt_blocks_agrees_with_decrypt_block();
    void hardware_path_where_processor_has_it();
    void crypt_file_results_data();
    void crypt_file_results();
    void decrypt_file_calls();

private:
    QByteArray write_file(const QString &name, const QByteArray &content);
    QTemporaryDir dir;
};

void test_cipher::standard_example_both_ways()
{
    const QByteArray round_keys = round_keys_of(
        QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
    const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray cipher = QByteArray::fromHex("8ea2b7ca516745bfeafc49904b496089");
    QByteArray out(16, '\0');
    encrypt_block(bytes(plain), (unsigned char *)out.data(), bytes(round_keys));
    QCOMPARE(out.toHex(), cipher.toHex());
    decrypt_block(bytes(cipher), (unsigned char *)out.data(), bytes(round_keys));
    QCOMPARE(out.toHex(), plain.toHex());
}

void test_cipher::decrypt_blocks_agrees_with_decrypt_block_data()
{
    QTest::addColumn<aes_path>("path");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<bool>("in_place");
    // Around the portable core's groups of 4 blocks and the instructions' groups of 8.
    for (aes_path path : {aes_path::portable, aes_path::hardware})
        for (int blocks : {0, 1, 3, 4, 5, 7, 8, 9, 17, 1000})
            for (bool in_place : {false, true})
                QTest::addRow("%s, %d blocks%s",
                              path == aes_path::portable ? "portable" : "hardware", blocks,
                              in_place ? ", in place" : "")
                    << path << blocks << in_place;
}

void test_cipher::decrypt_blocks_agrees_with_decrypt_block()
{
    QFETCH(aes_path, path);
    QFETCH(int, blocks);
    QFETCH(bool, in_place);
    if (path == aes_path::hardware && fastest_aes_path() != aes_path::hardware)
        QSKIP("no AES instructions, or a build that may not use them");

    QRandomGenerator rng(uint(blocks) * 2 + in_place);
    QByteArray key(32, '\0'), cipher(16 * blocks, '\0');
    for (QByteArray *random : {&key, &cipher})
        for (char &c : *random)
            c = char(rng.bounded(256));
    const QByteArray round_keys = round_keys_of(key);
    decrypt_key prepared;
    prepare_decrypt_key(bytes(round_keys), &prepared);
    QByteArray expected(16 * blocks, '\0');
    for (int i = 0; i < 16 * blocks; i += 16)
        decrypt_block(bytes(cipher) + i, (unsigned char *)expected.data() + i, bytes(round_keys));

    // Guard bytes after the output show any write past it.
    const QByteArray guard(16, '\x5A');
    QByteArray out = (in_place ? cipher : QByteArray(16 * blocks, '\0')) + guard;
    decrypt_blocks(in_place ? bytes(out) : bytes(cipher), (unsigned char *)out.data(),
                   size_t(blocks), prepared, path);
    QCOMPARE(out.toHex(), (expected + guard).toHex());
}

void test_cipher::hardware_path_where_processor_has_it()
{
    // Asked a second way: a build or check that never takes the instructions shows only here.
#if defined(CORVALEN_PORTABLE_AES) ||                                                              \
    !(defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86))
    QCOMPARE(fastest_aes_path(), aes_path::portable);
#elif defined(__GNUC__)
    QCOMPARE(fastest_aes_path() == aes_path::hardware, bool(__builtin_cpu_supports("aes")));
#else
    QSKIP("no second way to ask the processor here");
#endif
}

QByteArray test_cipher::write_file(const QString &name, const QByteArray &content)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(f.fileName()));
    return f.fileName().toLocal8Bit();
}

void test_cipher::crypt_file_results_data()
{
    QTest::addColumn<QByteArray>("cmd");  // null: none given
    QTest::addColumn<QByteArray>("file"); // null: none given
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("console");
    QTest::addColumn<QByteArray>("plain"); // the buffer handed over, or "untouched"
    const QByteArray decry = "decry", untouched = "untouched";

    // openssl's files and how many plain bytes come before the zeros. final-XX: two blocks
    // whose last plain byte, the padding byte, is XX.
    QList<QPair<QString, int>> references = {
        {"final-00", 32}, {"final-05", 27}, {"final-10", 16}, {"final-11", 16}, {"final-ff", 16}};
    for (int length : {0, 1, 15, 16, 17, 2047, 2048, 4096, 1 << 20})
        references.append({QString("length-%1").arg(length), length});
    for (const auto &[name, kept] : references) {
        const QByteArray cipher = openssl_file(name + ".cipher");
        const QByteArray path = write_file(name, cipher);
        QTest::newRow(qPrintable(name))
            << decry << path << 0 << console_of_success("decry", path, cipher.size())
            << openssl_file(name + ".plain").left(kept) + zeros(cipher.size() + 1 - kept);
    }

    const QByteArray version = write_file("version", openssl_file("version.cipher"));
    for (const char *cmd : {"Encry", "encryp"})
        QTest::newRow(cmd) << QByteArray(cmd) << version << 0
                           << console_of_success(cmd, version, 16) << "c2.0.7" + zeros(11);
    QTest::newRow("encry") << QByteArray("encry") << version << 1
                           << "cmd: encry\nfile: " + version + "\nsize 16\nEncry not support\n"
                           << zeros(17);
    // One byte whose zero-filled block deciphers to 08 .. 00: its padding byte claims 16.
    const QByteArray piece = write_file("piece", "\x2f");
    QTest::newRow("short last block")
        << decry << piece << 0 << console_of_success("decry", piece, 1) << "\x08" + zeros(1);
    QTest::newRow("no command") << QByteArray() << version << 1 << QByteArray("参数非法\n")
                                << untouched;
    QTest::newRow("no file") << decry << QByteArray() << 1 << QByteArray("参数非法\n") << untouched;
    // "huge" is beyond what an int counts, and 1 when cut to 32 bits: refused before any
    // allocation, like a missing file.
    const QByteArray huge = write_file("huge", QByteArray());
    QVERIFY(QFile::resize(QString::fromLocal8Bit(huge), (qint64(1) << 32) + 1));
    for (const QByteArray &file : {dir.filePath("missing").toLocal8Bit(), huge})
        QTest::newRow(file.constData())
            << decry << file << 1 << "cmd: decry\nfile: " + file + "\nfile open fail.\n"
            << untouched;
}

void test_cipher::crypt_file_results()
{
    QFETCH(QByteArray, cmd);
    QFETCH(QByteArray, file);
    QFETCH(int, result);
    QFETCH(QByteArray, console);
    QFETCH(QByteArray, plain);
    unsigned char untouched = 0;
    unsigned char *buffer = &untouched;
    stdout_capture capture;
    const int got = crypt_file(cmd.isNull() ? nullptr : cmd.constData(),
                               file.isNull() ? nullptr : file.constData(), &buffer);
    const QByteArray printed = capture.take();
    QByteArray handed_over = "untouched";
    if (buffer != &untouched) {
        // The file's length plus one bytes.
        handed_over =
            QByteArray((char *)buffer, QFileInfo(QString::fromLocal8Bit(file)).size() + 1);
        free(buffer);
    }
    QCOMPARE(printed, console);
    QCOMPARE(got, result);
    QCOMPARE(handed_over, plain);
}

void test_cipher::decrypt_file_calls()
{
    // Three blocks whose plain blocks end in 0x00 (kept whole), two of them left in the file
    // after its length was measured: the rest of the stale buffer turns zero.
    const QByteArray plain = openssl_file("blocks.plain");
    const QByteArray path = write_file("image", openssl_file("blocks.cipher").left(32));
    const QByteArray missing = dir.filePath("missing").toLocal8Bit();
    QByteArray buffer(48, '\xA5');
    stdout_capture capture;
    decrypt_file((unsigned char *)buffer.data(), 48, path.constData());
    decrypt_file(nullptr, 16, path.constData());
    decrypt_file((unsigned char *)buffer.data(), 16, missing.constData());
    QCOMPARE(capture.take(),
             QByteArray("error: plain memory NULL\r\n"
                        "error: could not open ciper_filename file to read data.\n"));
    QCOMPARE(buffer.toHex(), (plain.left(32) + zeros(16)).toHex());
}

QTEST_GUILESS_MAIN(test_cipher)
#include "test_cipher.moc"
