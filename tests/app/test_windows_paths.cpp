// The paths as a Windows user sees them: the directory typed with "/" becomes
// "\", names are joined with "\", the readers open what was typed followed by
// "\", and the companion of a package file is joined with "//".
#include <QtTest>
#include <windows.h>

#include "app/console.h"
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
    void console_reads_the_lines_as_written();

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

void test_windows_paths::companion_and_image_paths()
{
    upgrade_fixture f;
    f.package = release;
    stdout_capture capture;
    QVERIFY(f.prepare(upgrade_fixture::three_files()));
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
          "file: C:\\pkg\\release\\image0.bin\n"})
        QVERIFY2(console.contains(line), console.constData());
}

void test_windows_paths::console_reads_the_lines_as_written()
{
    // What the console shows of the cipher's Chinese line: its bytes decoded in the
    // console's output code page, as the tool sets it at start.
    QCOMPARE(GetACP(), UINT(CP_UTF8));
    // A console of its own, as the tool has when started; the test may run without one.
    FreeConsole();
    QVERIFY(AllocConsole());
    use_process_code_page_on_console();
    const UINT console_page = GetConsoleOutputCP();
    QCOMPARE(console_page, GetACP());

    unsigned char *plain = nullptr;
    stdout_capture capture;
    QCOMPARE(crypt_file(nullptr, "version", &plain), 1);
    const QByteArray bytes = capture.take();
    wchar_t shown[64] = {};
    const int length = MultiByteToWideChar(console_page, MB_ERR_INVALID_CHARS, bytes.constData(),
                                           bytes.size(), shown, 63);
    QCOMPARE(QString::fromWCharArray(shown, length), QString::fromUtf8("参数非法\n"));
}

QTEST_MAIN(test_windows_paths)
#include "test_windows_paths.moc"
