#include <QtTest>

#include "package/settings_reader.h"
#include "package/update_list.h"
#include "package/version.h"

Q_DECLARE_METATYPE(QList<QStringList>)

class test_package_text : public QObject
{
    Q_OBJECT

private slots:
    void settings_lines_data();
    void settings_lines();
    void update_list_parse_data();
    void update_list_parse();
    void version_numbers();
};

void test_package_text::settings_lines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("taken");
    QTest::newRow("two pieces") << "app.bin 0"
                                << "app.bin" << 0 << true;
    QTest::newRow("format 16") << "fw.hex 16"
                               << "fw.hex" << 16 << true;
    QTest::newRow("double space") << "app.bin  1"
                                  << "app.bin" << 0 << true;
    QTest::newRow("three pieces") << "app.bin 2 extra"
                                  << "app.bin" << 2 << true;
    QTest::newRow("letters") << "app.bin x1"
                             << "app.bin" << 0 << true;
    QTest::newRow("negative") << "app.bin -3"
                              << "app.bin" << -3 << true;
    QTest::newRow("name only") << "app.bin"
                               << "app.bin" << 0 << true;
    QTest::newRow("empty line") << ""
                                << "" << 0 << false;
    QTest::newRow("leading blank") << " 1"
                                   << "" << 0 << false;
}

void test_package_text::settings_lines()
{
    QFETCH(QString, line);
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(bool, taken);
    std::unique_ptr<file_info> entry(parse_settings_line(line));
    if (!taken) {
        QVERIFY(!entry);
        return;
    }
    QVERIFY(entry);
    QCOMPARE(entry->get_name(), name);
    QCOMPARE(entry->get_format(), format);
    QCOMPARE(entry->get_size(), 0);
    QCOMPARE(entry->get_row(), 0);
}

void test_package_text::update_list_parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QStringList>>("groups");
    QTest::newRow("two records, CR LF")
        << "{a1.0.0, a1.0.1};\r\n{a1.0.1,a1.1.0};\r\n"
        << QList<QStringList>{{"a1.0.0", "a1.0.1"}, {"a1.0.1", "a1.1.0"}};
    QTest::newRow("record over two lines")
        << "{a1.0.0,\r\na1.0.1};" << QList<QStringList>{{"a1.0.0", "a1.0.1"}};
    QTest::newRow("lone LF kept") << "{a1.0.0,\na1.0.1};"
                                  << QList<QStringList>{{"a1.0.0", "\na1.0.1"}};
    QTest::newRow("CR blank LF leaves CR LF")
        << "{a1.0.0,\r \na1.0.1};" << QList<QStringList>{{"a1.0.0", "\r\na1.0.1"}};
    QTest::newRow("tab kept") << "{a1.0.0,\ta1.0.1};" << QList<QStringList>{{"a1.0.0", "\ta1.0.1"}};
    QTest::newRow(";;") << ";;" << QList<QStringList>{};
    QTest::newRow("empty") << "" << QList<QStringList>{};
    QTest::newRow("blanks and line ends only") << " ; \r\n ;" << QList<QStringList>{};
    QTest::newRow("no braces") << "a1.0.0,a1.0.1" << QList<QStringList>{{"a1.0.0", "a1.0.1"}};
    QTest::newRow("{}") << "{};" << QList<QStringList>{{""}};
    QTest::newRow("a,,b") << "a,,b;" << QList<QStringList>{{"a", "", "b"}};
    QTest::newRow("braces anywhere") << "{a}1,{b};" << QList<QStringList>{{"a1", "b"}};
}

void test_package_text::update_list_parse()
{
    QFETCH(QString, text);
    QFETCH(QList<QStringList>, groups);
    QCOMPARE(parse_update_list(text), groups);
}

void test_package_text::version_numbers()
{
    QCOMPARE(version_number("c2.0.7"), 207);
    QCOMPARE(version_number("a1.0.7"), 107);
    QCOMPARE(version_number("1.2.3"), 123);
    QCOMPARE(version_number("a1.0.7\r\n"), 107);
    // Too short for the formula: missing digits count as 0, nothing is read outside.
    QCOMPARE(version_number(".1.2"), 12);
    QCOMPARE(version_number("a1.2."), 120);
    QCOMPARE(version_number("a1.2"), 120);
    QCOMPARE(version_number(""), 0);
    QVERIFY(is_accepted_version("a1.0.7"));
    QVERIFY(is_accepted_version(".."));
    QVERIFY(!is_accepted_version("a1.0"));
    QVERIFY(!is_accepted_version("a1.0.7.1"));
    QVERIFY(!is_accepted_version(""));

    const QList<QStringList> groups = {{"a1.0.0", "a1.0.1"}, {"a1.0.1", "a1.1.0"}};
    QVERIFY(group_permits(groups, "a1.0.0", "a1.0.1"));
    QVERIFY(group_permits(groups, "a1.1.0", "a1.0.1"));
    QVERIFY(group_permits(groups, "a1.1.0", "a1.1.0"));
    QVERIFY(!group_permits(groups, "a1.0.0", "a1.1.0"));
    QVERIFY(!group_permits(groups, "A1.0.0", "a1.0.1"));
    QVERIFY(!group_permits({}, "a1.0.0", "a1.0.0"));
}

QTEST_MAIN(test_package_text)
#include "test_package_text.moc"
