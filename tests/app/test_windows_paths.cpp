// The paths as a Windows user sees them: the directory typed with "/" becomes
// "\", names are joined with "\", the readers open what was typed followed by
// "\", and the companion of a package file is joined with "//".
// Runs with a Chinese system locale (LC_ALL=zh_CN.UTF-8): the system's code page is 936.
#include <QtTest>
#include <windows.h>

#include "base/console.h"
#include "cipher/crypt_file.h"
#include "stdout_capture.h"
#include "upgrade_fixture.h"

class test_windows_paths : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void companion_and_image_paths();
    void console_shows_the_session();
    void signed_package_data();
    void signed_package();

private:
    const QString root = "C:/pkg";
    const QString release = "C:/pkg/release";
};

void test_windows_paths::initTestCase()
{
    // The test owns C:\pkg and removes it afterwards; it never touches one it did not make.
    QVERIFY2(!QFileInfo::exists(root), "C:\\pkg exists already");
}

void test_windows_paths::cleanupTestCase()
{
    QDir(root).removeRecursively();
}

// Rewrites a UTF-8 text file in code page 936, as an editor on a Chinese Windows saves it.
void save_in_gbk(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const std::wstring text = QString::fromUtf8(file.readAll()).toStdWString();
    QByteArray bytes(int(text.size()) * 2, '\0');
    bytes.resize(WideCharToMultiByte(936, 0, text.data(), int(text.size()), bytes.data(),
                                     bytes.size(), nullptr, nullptr));
    QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
}

void test_windows_paths::companion_and_image_paths()
{
    upgrade_fixture f;
    f.package = release;
    stdout_capture capture;
    // The first image has a Chinese name, listed in a config saved in GBK.
    package_contents contents = upgrade_fixture::three_files();
    contents.files[0].name = QString::fromUtf8("镜像0.bin");
    QVERIFY(f.write_package(contents));
    save_in_gbk("config");
    QVERIFY(f.start_sensor({}));
    f.connect_to(test_address(1));
    QCOMPARE(f.catcher.texts, QStringList());
    QCOMPARE(dialog_probe::package_dir(*f.dialog), QString("C:\\pkg\\release"));

    // The first image goes through, read by its local 8-bit path; the second one's
    // companion is missing, and the run names the companion it looked for.
    QVERIFY(QFile::remove(release + "/image1.bin_config"));
    QTest::ignoreMessage(QtDebugMsg,
                         "open file \"C:\\\\pkg\\\\release//image1.bin_config\" failed");
    f.press_upgrade();
    const QByteArray console = capture.take();
    QCOMPARE(f.catcher.texts, QStringList({"error: open file config failed"}));
    // The readers open what was typed, joined with "\"; the images their listed names.
    for (const char *line :
         {"file: C:/pkg/release\\updatelist\n", "file: C:/pkg/release\\version\n",
          "file: C:\\pkg\\release\\镜像0.bin\n"})
        QVERIFY2(console.contains(line), console.constData());
}

void test_windows_paths::console_shows_the_session()
{
    // Started without a console window (a script's "> log.txt 2>&1"), or from a console
    // showing GBK: Qt's messages and the cipher's lines reach standard error and output
    // in order, in the console's code page, and the console gets its code page back.
    const QString message = QString::fromUtf8("错误: 配置文件打开失败!");
    const QString path = QString::fromUtf8("C:\\pkg\\镜像.bin");
    const QString session = QString::fromUtf8("参数非法\n") + message +
                            "\ncmd: decry\nfile: " + path + "\nfile open fail.\n";
    for (const UINT page : {0u, 936u}) {
        FreeConsole();
        QVERIFY(page == 0 || (AllocConsole() && SetConsoleOutputCP(page)));
        const QtMessageHandler qtest_handler = qInstallMessageHandler(nullptr);
        set_up_console();
        const UINT shown_page = GetConsoleOutputCP(); // 0 (CP_ACP) without a console
        stdout_capture capture(true);
        unsigned char *plain = nullptr;
        crypt_file(nullptr, "version", &plain);
        qDebug().noquote() << message;
        crypt_file("decry", path.toLocal8Bit().constData(), &plain);
        const QByteArray bytes = capture.take();
        qInstallMessageHandler(qtest_handler);
        restore_console();
        QCOMPARE(GetConsoleOutputCP(), page);

        wchar_t shown[256] = {};
        const int length = MultiByteToWideChar(shown_page, MB_ERR_INVALID_CHARS, bytes.constData(),
                                               bytes.size(), shown, 255);
        QCOMPARE(QString::fromWCharArray(shown, length), session);
    }
}

void test_windows_paths::signed_package_data()
{
    QTest::addColumn<QByteArray>("comment"); // the trusted comment the signature file then holds
    QTest::addColumn<QString>("message");
    QTest::newRow("good") << QByteArray("test key of the upgrade tool's tests, not a release key")
                          << QString();
    QTest::newRow("bad") << QByteArray("a release key")
                         << "error: package is not signed by a trusted key";
}

// libgcrypt as linked into the program. minisign does not run here: tests/app/signed holds a
// test key pair's public key and its signature of this package's manifest, made once with
// minisign -G -W and minisign -S -t; the secret key was not kept.
void test_windows_paths::signed_package()
{
    QFETCH(QByteArray, comment);
    upgrade_fixture f;
    QVERIFY(
        f.write_package({{{"app.bin", 1, QByteArray(3000, 'w')}}, "c2.0.8", "{c2.0.7,c2.0.8};"}));
    const QDir kept(QCoreApplication::applicationDirPath() + "/signed");
    QVERIFY(QFile::copy(kept.filePath("trusted_keys"), "trusted_keys"));
    QFile signature(kept.filePath("manifest.minisig"));
    QVERIFY(signature.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = signature.readAll().split('\n');
    lines[2] = "trusted comment: " + comment;
    QFile copy(QDir(f.package).filePath("manifest.minisig"));
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(lines.join('\n')) > 0);
    copy.close();
    QVERIFY(f.start_sensor({}));
    f.connect_to(test_address(1));
    f.press_upgrade();
    QFETCH(QString, message);
    QCOMPARE(f.catcher.texts, message.isEmpty() ? QStringList() : QStringList(message));
    QCOMPARE(f.sensor->images().size(), message.isEmpty() ? 1 : 0);
}

QTEST_MAIN(test_windows_paths)
#include "test_windows_paths.moc"
