#include <QTemporaryDir>
#include <QtTest>

#include "package_maker.h"
#include "upgrade/image_writer.h"

namespace
{

// Records the size of every write it is given.
class recording_device : public QIODevice
{
public:
    recording_device() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    QList<int> writes;
    QByteArray bytes;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        writes << int(size);
        bytes.append(data, int(size));
        return size;
    }
};

QByteArray image_of(int length)
{
    QByteArray image(length, '\0');
    for (int i = 0; i < length; ++i)
        image[i] = char((i * 131) ^ (i >> 11));
    return image;
}

QList<int> chunks_of(int length)
{
    QList<int> chunks;
    for (int at = 0; at < length; at += 2048)
        chunks << qMin(2048, length - at);
    return chunks;
}

} // namespace

class test_image_writer : public QObject
{
    Q_OBJECT

private slots:
    void streams_decrypted_image_data();
    void streams_decrypted_image();

private:
    QTemporaryDir dir;
};

void test_image_writer::streams_decrypted_image_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("shrink_to");
    QTest::addColumn<int>("result");
    const int sent = int(image_result::sent), changed = int(image_result::file_changed);
    for (int length : {0, 1, 15, 16, 17, 2047, 2048, 2049, 65535, 65536, 65537, 5 << 20})
        QTest::newRow(qPrintable(QString::number(length))) << length << length << -1 << sent;
    // Announced shorter than the plain text (a large padding count): only that many go out.
    QTest::newRow("announced 5000 of 70000") << 70000 << 5000 << -1 << sent;
    // The whole cipher length announced (no padding count): the zero tail goes out too.
    QTest::newRow("announced with padding") << 100 << 112 << -1 << sent;
    QTest::newRow("announced beyond the file") << 100 << 113 << -1 << changed;
    QTest::newRow("shrank to a block") << 300000 << 300000 << 16 << changed;
    QTest::newRow("shrank mid-image") << 300000 << 300000 << 100000 << changed;
}

void test_image_writer::streams_decrypted_image()
{
    QFETCH(int, length);
    QFETCH(int, announced);
    QFETCH(int, shrink_to);
    QFETCH(int, result);
    const QByteArray image = image_of(length);
    const QByteArray cipher = encrypt_package_bytes(image);
    const QString path = dir.filePath("image.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(cipher), qint64(cipher.size()));
    file.close();

    crypt_stream stream;
    QCOMPARE(crypt_stream_open(&stream, "decry", path.toLocal8Bit().constData()), 0);
    if (shrink_to >= 0)
        QVERIFY(QFile::resize(path, shrink_to));
    recording_device device;
    int idles = 0;
    QCOMPARE(int(write_image(device, stream, announced, [&] { ++idles; })), result);
    crypt_stream_close(&stream);

    const QByteArray plain = image + QByteArray(cipher.size() - image.size(), '\0');
    if (result == int(image_result::sent)) {
        QCOMPARE(device.bytes.size(), announced);
        QVERIFY(device.bytes == plain.left(announced));
        QCOMPARE(device.writes, chunks_of(announced));
    } else {
        // Nothing that was not decrypted from the file goes out.
        QVERIFY(device.bytes.size() <= qMax(shrink_to, 0));
        QVERIFY(device.bytes == plain.left(device.bytes.size()));
    }
}

QTEST_MAIN(test_image_writer)
#include "test_image_writer.moc"
