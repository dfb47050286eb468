#include <QFileDialog>
#include <QtTest>

#include <functional>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "minisign_keys.h"
#include "package/package_check.h"
#include "package/settings_reader.h"
#include "package/update_list.h"
#include "package/version.h"
#include "package_maker.h"
#include "scoped_workdir.h"

// A change made to a package in the working directory after it was made and signed.
using package_edit = std::function<void()>;
Q_DECLARE_METATYPE(package_edit)

namespace
{

QByteArray contents_of(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write_bytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

package_edit replaced(const QString &path, const QByteArray &bytes)
{
    return [=] { write_bytes(path, bytes); };
}

package_edit altered(const QString &path, const QByteArray &from, const QByteArray &to)
{
    return [=] { write_bytes(path, contents_of(path).replace(from, to)); };
}

package_edit cut(const QString &path, int bytes)
{
    return [=] { QVERIFY(QFile::resize(path, QFileInfo(path).size() - bytes)); };
}

// A trust store of the public keys of those named (space-separated), as "cat KEY.pub >>" makes
// it, with a comment of its own.
trusted_keys store_of(const QString &names, const QString &dir)
{
    QByteArray text = "# release keys\n";
    for (const QString &name : names.split(' '))
        text += name.isEmpty() ? QByteArray() : contents_of(QDir(dir).filePath(name + ".pub"));
    const QString path = QDir(dir).filePath("trusted_keys");
    write_bytes(path, text);
    return read_trusted_keys(path).value_or_empty();
}

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
    void package_check_data();
    void package_check();
    void signature_of_a_large_manifest_data();
    void signature_of_a_large_manifest();
    void trust_store_data();
    void trust_store();
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

void test_package::package_check_data()
{
    QTest::addColumn<QString>("signer"); // the key that signs the manifest: first, second, legacy
    QTest::addColumn<QString>("store");  // the keys trusted; "none": no trust store
    QTest::addColumn<package_edit>("edit");
    QTest::addColumn<QString>("said"); // the failure; the note without a store; or "trusted"
    const QString pkg = "pkg/", not_trusted = "error: package is not signed by a trusted key";
    const QString mismatch = "error: package does not match its manifest: ";
    const QString padding = "error: padding of app.bin does not match app.bin_config!";
    const package_edit none = [] {};
    auto row = [](const char *name, const QString &signer, const QString &store,
                  const package_edit &edit,
                  const QString &said) { QTest::newRow(name) << signer << store << edit << said; };
    row("as made", "", "none", none, "note: package not signed");
    row(
        "without a manifest", "", "none", [] { QFile::remove("pkg/manifest"); },
        "note: package not signed");
    row("signed, no store", "first", "none", none,
        "note: package signed by key %1, no trusted keys given");
    row("cut by 1", "", "none", cut(pkg + "app.bin", 1), "error: file app.bin is cut short!");
    row("cut by 5", "", "none", cut(pkg + "app.bin", 5), "error: file app.bin is cut short!");
    row("cut by 16", "", "none", cut(pkg + "app.bin", 16), padding);
    row("padding 3 of 12", "", "none", replaced(pkg + "app.bin_config", "3\n"), padding);
    row("padding 17", "", "none", replaced(pkg + "app.bin_config", "17\n"), padding);
    row("other image bytes", "", "none",
        replaced(pkg + "app.bin", encrypt_package_bytes(QByteArray(100, 'b'))),
        mismatch + "app.bin");
    row("other version", "", "none", replaced(pkg + "version", encrypt_package_bytes("c2.0.9")),
        mismatch + "version");
    row("other update list", "", "none",
        replaced(pkg + "updatelist",
                 encrypt_package_bytes("{c2.0.7, c2.0.8};\r\n{c2.0.8,c2.1.1};\r\n")),
        mismatch + "updatelist");
    row("other format", "", "none", replaced("config", "app.bin 2\nfw.hex 1\n"),
        mismatch + "app.bin");
    row("a file more", "", "none", replaced("config", "app.bin 0\nfw.hex 1\nfw.hex 1\n"),
        mismatch + "fw.hex");
    row("a file less", "", "none", replaced("config", "app.bin 0\n"), mismatch + "fw.hex");
    row("manifest of another kind", "", "none",
        altered(pkg + "manifest", "manifest 1", "manifest 2"), mismatch + "manifest");
    row("unsigned", "", "first", none, not_trusted);
    row("empty store", "first", "", none, not_trusted);
    row("unknown key", "second", "first", none, not_trusted);
    row("legacy signature", "legacy", "first", none, not_trusted);
    row("signature file cut", "first", "first", cut(pkg + "manifest.minisig", 20), not_trusted);
    row("trusted comment altered", "first", "first",
        altered(pkg + "manifest.minisig", "comment: release", "comment: Release"), not_trusted);
    row("manifest altered after signing", "first", "first",
        altered(pkg + "manifest", "c2.0.8", "c2.0.9"), not_trusted);
    row("good signature", "first", "first", none, "trusted");
    row("two keys, the second signs", "second", "first second", none, "trusted");
    row("signed, a file cut", "first", "first", cut(pkg + "app.bin", 5),
        "error: file app.bin is cut short!");
    row("signed, other image bytes", "first", "first",
        replaced(pkg + "app.bin", encrypt_package_bytes(QByteArray(100, 'b'))),
        mismatch + "app.bin");
}

void test_package::package_check()
{
    QFETCH(QString, signer);
    QFETCH(QString, store);
    QFETCH(package_edit, edit);
    QFETCH(QString, said);
    package_fixture f;
    f.write();
    const QString dir = f.workdir.path();
    if (!signer.isEmpty() || store != "none") {
        const minisign_keys first(dir, "first"), second(dir, "second");
        if (!first.made() || !second.made())
            QSKIP("minisign is not installed");
        const QString manifest = QDir(f.package).filePath("manifest");
        QVERIFY(
            signer.isEmpty() ||
            (signer == "second" ? second : first).sign(manifest, "release", signer == "legacy"));
        // As minisign names the key.
        if (said.contains("%1"))
            said = said.arg(QString(first.public_key().split('\n').first().split(' ').last()));
    }
    edit();
    const trusted_keys trusted = store_of(store, dir);
    const auto settings = settings_reader().read_config("config");
    check_rules rules;
    rules.trusted = store == "none" ? nullptr : &trusted;
    const read_result<checked_package> package =
        check_package(f.package, listed_now(*settings.value), rules);
    qDeleteAll(*settings.value);
    const package_signature *signature = package ? &package.value->signature : nullptr;
    QCOMPARE(!signature                                       ? package.failure
             : signature->state == package_signature::trusted ? "trusted"
                                                              : unsigned_note(*signature),
             said);
}

void test_package::signature_of_a_large_manifest_data()
{
    QTest::addColumn<bool>("legacy");
    QTest::addColumn<int>("changed_at"); // a byte changed after signing; -1: none
    QTest::addColumn<bool>("trusted");
    QTest::newRow("signed") << false << -1 << true;
    QTest::newRow("changed past 64 KiB") << false << 70000 << false;
    QTest::newRow("legacy, whole") << true << -1 << false;
}

// The library would check a message cut to its first 65,535 bytes: only digests are signed.
void test_package::signature_of_a_large_manifest()
{
    QFETCH(bool, legacy);
    QFETCH(int, changed_at);
    scoped_workdir workdir;
    const minisign_keys key(workdir.path(), "key");
    if (!key.made())
        QSKIP("minisign is not installed");
    QByteArray manifest = "corvalen-manifest 1\nversion c2.0.8\n";
    for (int i = 0; manifest.size() < 80000; ++i)
        manifest +=
            QString("file image%1.bin 1 64 4 60 %2\n").arg(i).arg(QString(64, 'a')).toUtf8();
    write_bytes("manifest", manifest);
    QVERIFY(key.sign("manifest", {}, legacy));
    if (changed_at >= 0)
        manifest[changed_at] = 'b';
    const trusted_keys trusted = store_of("key", workdir.path());
    QCOMPARE(trusted.size(), 1);
    const package_signature signature =
        check_signature(manifest, contents_of("manifest.minisig"), &trusted);
    QTEST(signature.state == package_signature::trusted, "trusted");
}

void test_package::trust_store_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("read"); // how many keys, or the failure
    const QByteArray id = QByteArray::fromHex("0102030405060708");
    const QByteArray key = ("Ed" + id + QByteArray(32, 'k')).toBase64();
    const QByteArray minisign_file =
        "untrusted comment: minisign public key 0807060504030201\n" + key + "\n";
    const QString not_a_key = "error: line %1 of trusted_keys is not a minisign public key!";
    QTest::newRow("as minisign writes it") << minisign_file << "1";
    QTest::newRow("two appended, CR LF, comments")
        << "# rotation\r\n\r\n" + minisign_file + QByteArray(minisign_file).replace('\n', "\r\n")
        << "2";
    QTest::newRow("a bare line") << key << "1";
    QTest::newRow("no key") << QByteArray("# none yet\n") << "0";
    QTest::newRow("a signature line")
        << "\n" + ("ED" + id + QByteArray(64, 's')).toBase64() << not_a_key.arg(2);
    QTest::newRow("another algorithm")
        << ("ED" + id + QByteArray(32, 'k')).toBase64() << not_a_key.arg(1);
    QTest::newRow("not base64") << key.left(55) + "!" << not_a_key.arg(1);
    QTest::newRow("cut short") << key.left(52) << not_a_key.arg(1);
}

void test_package::trust_store()
{
    QFETCH(QByteArray, text);
    scoped_workdir workdir;
    write_bytes("trusted_keys", text);
    const read_result<trusted_keys> keys = read_trusted_keys("trusted_keys");
    QTEST(keys ? QString::number(keys.value->size()) : keys.failure, "read");
    // minisign shows a key ID with its last byte first.
    if (keys && !keys.value->isEmpty())
        QCOMPARE(key_id_text(keys.value->first().id), QString("0807060504030201"));
}

QTEST_MAIN(test_package)
#include "test_package.moc"
