#include <QtTest>

#include "upgrade/image_writer.h"

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

class test_image_writer : public QObject
{
    Q_OBJECT

private slots:
    void chunks_data();
    void chunks();
};

void test_image_writer::chunks_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("writes");
    QTest::newRow("0") << 0 << QList<int>();
    QTest::newRow("1") << 1 << QList<int>({1});
    QTest::newRow("2047") << 2047 << QList<int>({2047});
    QTest::newRow("2048") << 2048 << QList<int>({2048});
    QTest::newRow("2049") << 2049 << QList<int>({2048, 1});
    QTest::newRow("4096") << 4096 << QList<int>({2048, 2048});
    QTest::newRow("5000") << 5000 << QList<int>({2048, 2048, 904});
}

void test_image_writer::chunks()
{
    QFETCH(int, length);
    QFETCH(QList<int>, writes);
    // The buffer is longer than the image: only the first length bytes go out.
    QByteArray image(length + 16, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i % 251);
    recording_device device;
    write_image(device, reinterpret_cast<const unsigned char *>(image.constData()), length);
    QCOMPARE(device.writes, writes);
    QCOMPARE(device.bytes, image.left(length));
}

QTEST_MAIN(test_image_writer)
#include "test_image_writer.moc"
