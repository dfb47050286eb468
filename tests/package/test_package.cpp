#include <QtTest>

#include <functional>

#include "minisign_keys.h"
#include "package/package_check.h"
#include "package/settings_reader.h"
#include "package/update_list.h"
#include "package/version.h"
#include "package_fixture.h"
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

} // namespace

class test_package : public QObject
{
    Q_OBJECT

private slots:
    void settings_lines();
    void update_list_parse();
    void versions();
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
        // As the tool names the key.
        if (said.contains("%1"))
            said = said.arg(first.key_id());
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
