// The directory field and "Browse" as an operator uses them: the file table, the state the
// window keeps, and the messages of a package whose files go missing.
#include <QFileDialog>
#include <QtTest>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "package_fixture.h"

namespace
{

const QString invalid_version = "error: invalid version from version file";

// The window's widgets by name.
struct form {
    Dialog &d;
    QLineEdit *line(const char *name) { return dialog_probe::widget<QLineEdit>(d, name); }
    QLineEdit *directory() { return line("lineEdit_input_directry"); }
    QTableWidget *table() { return dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist"); }
    QString cell(int row, int column) { return table()->item(row, column)->text(); }
};

} // namespace

class test_dialog_directory : public QObject
{
    Q_OBJECT

private slots:
    void a_package_and_its_files_going_missing();
    void browse_runs_the_handler_again();
};

void test_dialog_directory::a_package_and_its_files_going_missing()
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

void test_dialog_directory::browse_runs_the_handler_again()
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

QTEST_MAIN(test_dialog_directory)
#include "test_dialog_directory.moc"
