// The paths as a Windows user sees them: the directory typed with "/" becomes
// "\", names are joined with "\", the readers open what was typed followed by
// "\", and the companion of a package file is joined with "//".
#include <QtTest>
#include <windows.h>

#include "app/console.h"
#include "cipher/crypt_file.h"
#include "stdout_capture.h"
#include "upgrade_fixture.h"

namespace
{

// The files the cipher was asked to open, from its "file: " lines.
QStringList opened_files(const QByteArray &console)
{
    QStringList opened;
    for (const QByteArray &line : console.split('\n'))
        if (line.startsWith("file: "))
            opened << QString::fromLocal8Bit(line.mid(6));
    return opened;
}

} // namespace

class test_windows_paths : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void directory_forms_data();
    void directory_forms();
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

void test_windows_paths::directory_forms_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("package_dir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("opened");
    QTest::newRow("slashes") << "C:/pkg/release"
                             << "C:\\pkg\\release"
                             << "C:\\pkg\\release\\app.bin"
                             << QStringList{"C:/pkg/release\\updatelist",
                                            "C:/pkg/release\\version"};
    QTest::newRow("backslashes") << "C:\\pkg\\release"
                                 << "C:\\pkg\\release"
                                 << "C:\\pkg\\release\\app.bin"
                                 << QStringList{"C:\\pkg\\release\\updatelist",
                                                "C:\\pkg\\release\\version"};
    // No package there: the readers fail before opening anything.
    QTest::newRow("drive root") << "C:/"
                                << "C:\\"
                                << "C:\\\\app.bin" << QStringList();
}

void test_windows_paths::directory_forms()
{
    QFETCH(QString, typed);
    QFETCH(QString, package_dir);
    QFETCH(QString, name);
    QFETCH(QStringList, opened);
    scoped_workdir workdir;
    package_contents contents{{{"app.bin", 0, "app"}}, "c2.0.8", "{c2.0.7,c2.0.8};"};
    QVERIFY(
        make_package(release, contents, QDir(workdir.path()).filePath("config"), true, nullptr));
    message_catcher catcher;
    Dialog d;
    stdout_capture capture;
    dialog_probe::widget<QLineEdit>(d, "lineEdit_input_directry")->setText(typed);
    QCOMPARE(opened_files(capture.take()), opened);
    QCOMPARE(catcher.texts.isEmpty(), !opened.isEmpty());
    QCOMPARE(dialog_probe::package_dir(d), package_dir);
    QCOMPARE(dialog_probe::file_list(d).first()->get_name(), name);
    // The Name column shows the whole path: it is cut only at "/".
    QCOMPARE(dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist")->item(0, 0)->text(),
             name);
}

void test_windows_paths::companion_and_image_paths()
{
    upgrade_fixture f;
    f.package = release;
    QVERIFY(f.prepare(upgrade_fixture::three_files()));
    QCOMPARE(f.catcher.texts, QStringList());
    QCOMPARE(dialog_probe::package_dir(*f.dialog), QString("C:\\pkg\\release"));

    // The first image goes through, read by its local 8-bit path; the second one's
    // companion is missing, and the run names the companion it looked for.
    QVERIFY(QFile::remove(release + "/image1.bin_config"));
    QTest::ignoreMessage(QtDebugMsg,
                         "open file \"C:\\\\pkg\\\\release//image1.bin_config\" failed");
    stdout_capture capture;
    f.press_upgrade();
    const QByteArray console = capture.take();
    QCOMPARE(f.catcher.texts, QStringList({"error: open file config failed"}));
    QVERIFY2(console.contains("file: C:\\pkg\\release\\image0.bin\n"), console.constData());
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
