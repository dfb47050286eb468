#include <QFileDialog>
#include <QtTest>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "package/settings_reader.h"
#include "package/update_list.h"
#include "package/version.h"
#include "package_maker.h"
#include "scoped_workdir.h"

namespace
{

const QString invalid_version = "error: invalid version from version file";

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

// The window's widgets by name.
struct form {
    Dialog &d;
    QLineEdit *line(const char *name) { return dialog_probe::widget<QLineEdit>(d, name); }
    QLineEdit *directory() { return line("lineEdit_input_directry"); }
    QTableWidget *table() { return dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist"); }
    QString cell(int row, int column) { return table()->item(row, column)->text(); }
};

} // namespace

class test_package : public QObject
{
    Q_OBJECT

private slots:
    void settings_lines();
    void update_list_parse();
    void versions();
    void a_package_and_its_files_going_missing();
    void browse_runs_the_handler_again();
};

void test_package::settings_lines()
{
    // "name format" for each line, "-" for a line that names no file.
    QStringList entries;
    for (const char *line : {"app.bin 2 extra", "app.bin  1", "app.bin x1", "app.bin", "", " 1"}) {
        std::unique_ptr<file_info> entry(parse_settings_line(line));
        entries << (entry ? entry->get_name() + ' ' + QString::number(entry->get_format()) : "-");
    }
    QCOMPARE(entries, QStringList({"app.bin 2", "app.bin 0", "app.bin 0", "app.bin 0", "-", "-"}));
}

void test_package::update_list_parse()
{
    const QList<QPair<QString, QList<QStringList>>> cases = {
        {"{a1.0.0, a1.0.1};\r\n{a1.0.1,a1.1.0};\r\n", {{"a1.0.0", "a1.0.1"}, {"a1.0.1", "a1.1.0"}}},
        // Only CR LF pairs and blanks go, in that order.
        {"{a1.0.0,\n\ta1.0.1};", {{"a1.0.0", "\n\ta1.0.1"}}},
        {"{a1.0.0,\r \na1.0.1};", {{"a1.0.0", "\r\na1.0.1"}}},
        {" ; \r\n ;", {}},
        // Empty records go before the braces do; empty fields stay.
        {"{};", {{""}}},
        {"{a}1,,{b};", {{"a1", "", "b"}}},
    };
    for (const auto &[text, groups] : cases)
        QCOMPARE(parse_update_list(text), groups);
}

void test_package::versions()
{
    QCOMPARE(version_number("c2.0.7"), 207);
    QCOMPARE(version_number("a1.0.7\r\n"), 107);
    // Too short for the formula: missing digits count as 0, nothing is read outside.
    QCOMPARE(version_number(".1.2"), 12);
    QCOMPARE(version_number("a1.2"), 120);
    QCOMPARE(version_number(""), 0);
    QVERIFY(is_accepted_version("a1.0.7"));
    QVERIFY(!is_accepted_version("a1.0"));
    QVERIFY(!is_accepted_version("a1.0.7.1"));

    const QList<QStringList> groups = {{"a1.0.0", "a1.0.1"}, {"a1.0.1", "a1.1.0"}};
    QVERIFY(group_permits(groups, "a1.1.0", "a1.0.1"));
    QVERIFY(!group_permits(groups, "a1.0.0", "a1.1.0"));
    QVERIFY(!group_permits(groups, "A1.0.0", "a1.0.1"));
}

void test_package::a_package_and_its_files_going_missing()
{
    package_fixture f;
    QVERIFY(QDir().mkpath(QDir(f.package).filePath("sub")));
    // Settings lines with CR LF, an empty line and a double blank.
    f.write("sub/app.bin -2\r\n\r\nmissing.bin  7\n");
    QFile::copy(QDir(f.package).filePath("fw.hex"), QDir(f.package).filePath("sub/app.bin"));
    message_catcher catcher;
    Dialog d;
    form w{d};
    w.directory()->setText(f.package);
    // Texts that name no directory change nothing.
    w.directory()->setText(QDir(f.package).filePath("app.bin"));
    w.directory()->setText(QDir(f.package).filePath("nothing"));
    QCOMPARE(catcher.texts, QStringList());
    const QString base = QDir::toNativeSeparators(f.package) + QDir::separator();
#ifdef Q_OS_WIN
    // Only the "/" of a settings name cuts the cell; the directory joins with "\".
    const QStringList shown = {base + "app.bin", base + "fw.hex", "app.bin", base + "missing.bin"};
#else
    const QStringList shown = {"app.bin", "fw.hex", "app.bin", "missing.bin"};
#endif
    QStringList rows;
    for (int row = 0; row < w.table()->rowCount(); ++row) {
        rows << QStringList({w.table()->verticalHeaderItem(row)->text(), w.cell(row, 0),
                             w.cell(row, 1), w.cell(row, 2), w.cell(row, 3)})
                    .join(' ');
        QCOMPARE(w.table()->rowHeight(row), 30);
        QCOMPARE(w.table()->item(row, 3)->font().pointSize(), 15);
        QCOMPARE(w.table()->item(row, 3)->font().weight(), int(QFont::Bold));
    }
    QCOMPARE(rows, QStringList({"1 " + shown[0] + " 112Byte TXT waiting",
                                "2 " + shown[1] + " 16Byte HEX waiting",
                                "3 " + shown[2] + " 16Byte HEX waiting",
                                "4 " + shown[3] + " 0Byte TXT waiting"}));
    QStringList entries;
    for (const file_info *entry : dialog_probe::file_list(d))
        entries << entry->get_name() + ' ' + QString::number(entry->get_row());
    QCOMPARE(entries, QStringList({base + "app.bin 0", base + "fw.hex 1", base + "sub/app.bin 2",
                                   base + "missing.bin 3"}));
    QCOMPARE(dialog_probe::package_dir(d), QDir::toNativeSeparators(f.package));
    QCOMPARE(dialog_probe::package_version(d), QString("c2.0.8"));
    QCOMPARE(w.line("lineEdit_new_version")->text(), QString("c2.0.8"));
    QCOMPARE(dialog_probe::update_list(d),
             QList<QStringList>({{"c2.0.7", "c2.0.8"}, {"c2.0.8", "c2.1.0"}}));

    // Files going missing, and the messages the package then shows, in order.
    const QList<QPair<QStringList, QStringList>> losses = {
        {{"updatelist_config", "version_config"},
         {"error: open file config failed", "error: open version config file failed",
          invalid_version}},
        {{"updatelist", "version"},
         {"error: updatelist open failed!", "error: version file open failed!", invalid_version}},
    };
    for (const auto &[files, messages] : losses) {
        for (const QString &file : files)
            QVERIFY(QFile::remove(QDir(f.package).filePath(file)));
        w.directory()->clear();
        w.directory()->setText(f.package);
        QCOMPARE(catcher.texts, messages);
        catcher.texts.clear();
        // Listed anew from the settings, not added to the first listing.
        QCOMPARE(w.table()->rowCount(), 4);
        QCOMPARE(dialog_probe::file_list(d).size(), 4);
        QVERIFY(dialog_probe::update_list(d).isEmpty());
        QVERIFY(dialog_probe::package_version(d).isEmpty());
        // The line keeps the last version that was read.
        QCOMPARE(w.line("lineEdit_new_version")->text(), QString("c2.0.8"));
    }

    // The root keeps its separator, and the join adds one more.
#ifdef Q_OS_WIN
    const QString root = "C:/", root_entry = "C:\\\\app.bin";
#else
    const QString root = "/", root_entry = "//app.bin";
#endif
    w.directory()->setText(root);
    QCOMPARE(dialog_probe::package_dir(d), QDir::toNativeSeparators(root));
    QCOMPARE(dialog_probe::file_list(d).first()->get_name(), root_entry);
}

void test_package::browse_runs_the_handler_again()
{
    package_fixture f;
    f.contents.version = "a1.0";
    f.write();
    message_catcher catcher;
    Dialog d;
    form w{d};
    const QString none = QDir(f.workdir.path()).filePath("none");
    w.directory()->setText(none);

    // The chooser is first cancelled, then picks the package.
    bool pick = false;
    QString caption;
    catcher.on_other_modal = [&](QWidget *modal) {
        if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
            caption = chooser->windowTitle();
            chooser->setDirectory(f.workdir.path());
            chooser->selectFile(f.package);
            pick ? static_cast<QDialog *>(chooser)->accept() : chooser->reject();
        }
    };
    dialog_probe::widget<QPushButton>(d, "pushButton_browse")->click();
    QCOMPARE(w.directory()->text(), none);
    pick = true;
    dialog_probe::widget<QPushButton>(d, "pushButton_browse")->click();
    QCOMPARE(caption, QString("Find Files"));
    QCOMPARE(w.directory()->text(), QDir::toNativeSeparators(f.package));
    // Read once through the changed text and once more directly; not taken as the new version.
    QCOMPARE(catcher.texts, QStringList({invalid_version + "a1.0", invalid_version + "a1.0"}));
    QCOMPARE(w.line("lineEdit_new_version")->text(), QString());
}

QTEST_MAIN(test_package)
#include "test_package.moc"
