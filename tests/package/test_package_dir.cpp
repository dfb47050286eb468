#include <QFileDialog>
#include <QtTest>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "package_maker.h"
#include "scoped_workdir.h"

namespace
{

const QString settings_message = QString::fromUtf8("错误: 配置文件打开失败!");
const QString invalid_version = "error: invalid version from version file";

void write_text(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// A working directory with a settings file and a package beside it.
struct package_fixture {
    scoped_workdir workdir;
    QString package = QDir(workdir.path()).filePath("pkg");
    package_contents contents{{{"app.bin", 0, QByteArray(100, 'a')}, {"fw.hex", 1, "fw"}},
                              "c2.0.8",
                              "{c2.0.7, c2.0.8};\r\n{c2.0.8,c2.1.0};\r\n"};

    void write(const QByteArray &extra_settings = {})
    {
        const QString config = QDir(workdir.path()).filePath("config");
        QString error;
        QVERIFY2(make_package(package, contents, config, true, &error), qPrintable(error));
        QFile settings(config);
        QVERIFY(settings.open(QIODevice::Append));
        settings.write(extra_settings);
    }
};

QLineEdit *directory_line(Dialog &d)
{
    return dialog_probe::widget<QLineEdit>(d, "lineEdit_input_directry");
}

QTableWidget *table(Dialog &d)
{
    return dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
}

QString cell(Dialog &d, int row, int column)
{
    return table(d)->item(row, column)->text();
}

} // namespace

class test_package_dir : public QObject
{
    Q_OBJECT

private slots:
    void settings_file_at_start_up();
    void table_and_readers_for_a_package();
    void directory_without_package_files();
    void text_that_names_no_directory();
    void version_files_data();
    void version_files();
    void reader_failures();
    void browse_runs_the_handler_again();
};

void test_package_dir::settings_file_at_start_up()
{
    struct start_up {
        const char *config; // null: no settings file at all
        QStringList messages;
        QStringList entries; // "name format"
    };
    for (const start_up &c : {
             start_up{nullptr, {settings_message}, {}},
             start_up{"", {}, {}},
             start_up{
                 "app.bin 0\r\nfw.hex 16\n\nlast  1", {}, {"app.bin 0", "fw.hex 16", "last 0"}},
         }) {
        scoped_workdir workdir;
        if (c.config)
            write_text("config", c.config);
        message_catcher catcher;
        Dialog d;
        QCOMPARE(catcher.texts, c.messages);
        QStringList entries;
        for (const file_info *entry : dialog_probe::config_entries(d))
            entries << entry->get_name() + ' ' + QString::number(entry->get_format());
        QCOMPARE(entries, c.entries);
    }
}

void test_package_dir::table_and_readers_for_a_package()
{
    package_fixture f;
    QVERIFY(QDir().mkpath(QDir(f.package).filePath("sub")));
    f.write("sub/app.bin -2\nmissing.bin 7\n");
    QFile::copy(QDir(f.package).filePath("fw.hex"), QDir(f.package).filePath("sub/app.bin"));
    message_catcher catcher;
    Dialog d;
    for (int pass = 0; pass < 2; ++pass) {
        directory_line(d)->setText(pass == 0 ? f.package : f.package + "/");
        if (pass == 1)
            directory_line(d)->setText(f.package);
        QCOMPARE(catcher.texts, QStringList());
        QTableWidget *t = table(d);
        QCOMPARE(t->rowCount(), 4);
        const QString base = QDir::toNativeSeparators(f.package) + QDir::separator();
        const QStringList names = {"app.bin", "fw.hex", "sub/app.bin", "missing.bin"};
#ifdef Q_OS_WIN
        // Only the "/" of a settings name cuts the cell; the directory joins with "\".
        const QStringList shown = {base + "app.bin", base + "fw.hex", "app.bin",
                                   base + "missing.bin"};
#else
        const QStringList shown = {"app.bin", "fw.hex", "app.bin", "missing.bin"};
#endif
        const QStringList sizes = {"112Byte", "16Byte", "16Byte", "0Byte"};
        const QStringList formats = {"TXT", "HEX", "HEX", "HEX"};
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(t->verticalHeaderItem(row)->text(), QString::number(row + 1));
            QCOMPARE(t->rowHeight(row), 30);
            QCOMPARE(cell(d, row, 0), shown[row]);
            QCOMPARE(cell(d, row, 1), sizes[row]);
            QCOMPARE(cell(d, row, 2), formats[row]);
            QCOMPARE(cell(d, row, 3), QString("waiting"));
            const QFont font = t->item(row, 3)->font();
            QCOMPARE(font.pointSize(), 15);
            QCOMPARE(font.weight(), int(QFont::Bold));
            const file_info *entry = dialog_probe::file_list(d)[row];
            QCOMPARE(entry->get_name(), base + names[row]);
            QCOMPARE(entry->get_row(), row);
        }
        QCOMPARE(dialog_probe::package_dir(d), QDir::toNativeSeparators(f.package));
        QCOMPARE(dialog_probe::package_version(d), QString("c2.0.8"));
        QCOMPARE(dialog_probe::widget<QLineEdit>(d, "lineEdit_new_version")->text(),
                 QString("c2.0.8"));
        QCOMPARE(dialog_probe::update_list(d),
                 QList<QStringList>({{"c2.0.7", "c2.0.8"}, {"c2.0.8", "c2.1.0"}}));
    }
}

void test_package_dir::directory_without_package_files()
{
    package_fixture f;
    f.write();
    message_catcher catcher;
    Dialog d;
    directory_line(d)->setText(f.package);
    QCOMPARE(catcher.texts, QStringList());
    const QString empty = QDir(f.workdir.path()).filePath("empty");
    QVERIFY(QDir().mkpath(empty));
    directory_line(d)->setText(empty);
    QCOMPARE(catcher.texts, QStringList({"error: updatelist open failed!",
                                         "error: version file open failed!", invalid_version}));
    QCOMPARE(table(d)->rowCount(), 2);
    QCOMPARE(cell(d, 0, 1), QString("0Byte"));
    QVERIFY(dialog_probe::update_list(d).isEmpty());
    QVERIFY(dialog_probe::package_version(d).isEmpty());
    // The line keeps the last version that was read.
    QCOMPARE(dialog_probe::widget<QLineEdit>(d, "lineEdit_new_version")->text(), QString("c2.0.8"));
}

void test_package_dir::text_that_names_no_directory()
{
    package_fixture f;
    f.write();
    message_catcher catcher;
    Dialog d;
    directory_line(d)->setText(f.package);
    directory_line(d)->setText(QDir(f.package).filePath("app.bin"));
    directory_line(d)->setText(QDir(f.package).filePath("nothing"));
    QCOMPARE(catcher.texts, QStringList());
    QCOMPARE(table(d)->rowCount(), 2);
    QCOMPARE(dialog_probe::package_dir(d), QDir::toNativeSeparators(f.package));
    QCOMPARE(dialog_probe::package_version(d), QString("c2.0.8"));
}

void test_package_dir::version_files_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("a1.0.7") << QByteArray("a1.0.7") << true;
    QTest::newRow("no letter") << QByteArray("1.2.3") << true;
    QTest::newRow("trailing CR LF") << QByteArray("a1.0.7\r\n") << true;
    QTest::newRow("one dot") << QByteArray("a1.0") << false;
    QTest::newRow("three dots") << QByteArray("a1.0.7.1") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void test_package_dir::version_files()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, accepted);
    package_fixture f;
    f.contents.version = version;
    f.write();
    message_catcher catcher;
    Dialog d;
    directory_line(d)->setText(f.package);
    const QString text = QString::fromUtf8(version);
    QCOMPARE(dialog_probe::package_version(d), text);
    QCOMPARE(catcher.texts, accepted ? QStringList() : QStringList({invalid_version + text}));
    QCOMPARE(dialog_probe::widget<QLineEdit>(d, "lineEdit_new_version")->text(),
             accepted ? text : QString());
}

void test_package_dir::reader_failures()
{
    package_fixture f;
    f.write();
    QVERIFY(QFile::remove(QDir(f.package).filePath("updatelist_config")));
    QVERIFY(QFile::remove(QDir(f.package).filePath("version_config")));
    message_catcher catcher;
    Dialog d;
    directory_line(d)->setText(f.package);
    QCOMPARE(catcher.texts,
             QStringList({"error: open file config failed",
                          "error: open version config file failed", invalid_version}));
    QVERIFY(dialog_probe::update_list(d).isEmpty());
}

void test_package_dir::browse_runs_the_handler_again()
{
    package_fixture f;
    f.write();
    const QString empty = QDir(f.workdir.path()).filePath("empty");
    QVERIFY(QDir().mkpath(empty));
    message_catcher catcher;
    Dialog d;
    directory_line(d)->setText(empty);
    QCOMPARE(catcher.texts.size(), 3);

    catcher.on_other_modal = [](QWidget *modal) {
        if (auto *chooser = qobject_cast<QFileDialog *>(modal))
            chooser->reject();
    };
    dialog_probe::widget<QPushButton>(d, "pushButton_browse")->click();
    QCOMPARE(catcher.texts.size(), 6);
    QCOMPARE(directory_line(d)->text(), empty);

    QString caption;
    catcher.on_other_modal = [&](QWidget *modal) {
        if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
            caption = chooser->windowTitle();
            chooser->setDirectory(f.workdir.path());
            chooser->selectFile(f.package);
            static_cast<QDialog *>(chooser)->accept();
        }
    };
    catcher.texts.clear();
    f.contents.version = "a1.0";
    f.write();
    dialog_probe::widget<QPushButton>(d, "pushButton_browse")->click();
    QCOMPARE(caption, QString("Find Files"));
    QCOMPARE(directory_line(d)->text(), QDir::toNativeSeparators(f.package));
    // Read once through the changed text and once more directly.
    QCOMPARE(catcher.texts, QStringList({invalid_version + "a1.0", invalid_version + "a1.0"}));
}

QTEST_MAIN(test_package_dir)
#include "test_package_dir.moc"
