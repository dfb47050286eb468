#include <QtTest>

#include "package/settings_reader.h"
#include "package/update_list.h"
#include "package/version.h"

class test_package_text : public QObject
{
    Q_OBJECT

private slots:
    void settings_lines();
    void update_list_parse();
    void versions();
};

void test_package_text::settings_lines()
{
    // "name format" for each line, "-" for a line that names no file.
    QStringList entries;
    for (const char *line : {"app.bin 2 extra", "app.bin  1", "app.bin x1", "app.bin", "", " 1"}) {
        std::unique_ptr<file_info> entry(parse_settings_line(line));
        entries << (entry ? entry->get_name() + ' ' + QString::number(entry->get_format()) : "-");
    }
    QCOMPARE(entries, QStringList({"app.bin 2", "app.bin 0", "app.bin 0", "app.bin 0", "-", "-"}));
}

void test_package_text::update_list_parse()
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

void test_package_text::versions()
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

QTEST_MAIN(test_package_text)
#include "test_package_text.moc"
