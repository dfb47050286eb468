// What the product's tests take from the package maker: a package that decrypts back to
// its images, with the padding count in each companion, its manifest and the settings file
// naming them.
#include <QtTest>
#include <cstdlib>

#include "cipher/crypt_file.h"
#include "package_maker.h"

class test_package_maker : public QObject
{
    Q_OBJECT

private slots:
    void package_decrypts_to_its_images();
};

void test_package_maker::package_decrypts_to_its_images()
{
    QTemporaryDir dir;
    const QString package = QDir(dir.path()).filePath("pkg");
    const QString config = QDir(dir.path()).filePath("config");
    const QByteArray image = "seventeen bytes!!";
    QString error;
    QVERIFY2(
        make_package(package, {{{"image.bin", 5, image}}, "c2.0.8", "{};"}, config, false, &error),
        qPrintable(error));
    QVERIFY(!make_package(package, {{}, "c2.0.9", "{};"}, {}, false, &error));
    // The settings file cuts a name at its first blank.
    const QString other = QDir(dir.path()).filePath("other");
    QVERIFY(!make_package(other, {{{"my app.bin", 0, image}}, "c2.0.8", "{};"}, {}, false, &error));
    QVERIFY(error.contains("\"my app.bin\" holds a blank") && !QFileInfo::exists(other));

    const QString path = QDir(package).filePath("image.bin");
    unsigned char *plain = nullptr;
    QCOMPARE(crypt_file("decry", path.toLocal8Bit().constData(), &plain), 0);
    const QByteArray decrypted(reinterpret_cast<char *>(plain), 33);
    std::free(plain);
    QCOMPARE(decrypted, image + QByteArray(16, '\0'));
    QFile companion(path + "_config");
    QVERIFY(companion.open(QIODevice::ReadOnly));
    QCOMPARE(companion.readLine().trimmed(), QByteArray("15"));
    QFile settings(config);
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), QByteArray("image.bin 5\n"));

    // The manifest lists the image; written anew for other files, it drops the old signature.
    QFile manifest(QDir(package).filePath("manifest"));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    QVERIFY(manifest.readAll().contains("\nfile image.bin 5 32 15 17 "));
    QFile signature(manifest.fileName() + ".minisig");
    QVERIFY(signature.open(QIODevice::WriteOnly));
    signature.close();
    QVERIFY(write_manifest(package, {{"image.bin", 5, -1}}, &error) && signature.exists());
    QVERIFY(write_manifest(package, {{"image.bin", 6, -1}}, &error) && !signature.exists());
}

QTEST_GUILESS_MAIN(test_package_maker)
#include "test_package_maker.moc"
