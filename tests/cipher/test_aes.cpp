#include <QRandomGenerator>
#include <QtTest>

#include "cipher/aes.h"

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

} // namespace

class test_aes : public QObject
{
    Q_OBJECT

private slots:
    void standard_example_both_ways();
    void decrypt_blocks_agrees_with_decrypt_block_data();
    void decrypt_blocks_agrees_with_decrypt_block();
    void hardware_path_where_processor_has_it();
};

void test_aes::standard_example_both_ways()
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

void test_aes::decrypt_blocks_agrees_with_decrypt_block_data()
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

void test_aes::decrypt_blocks_agrees_with_decrypt_block()
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

void test_aes::hardware_path_where_processor_has_it()
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

QTEST_APPLESS_MAIN(test_aes)
#include "test_aes.moc"
