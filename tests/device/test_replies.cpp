#include <QtTest>

#include "device/replies.h"

class test_replies : public QObject
{
    Q_OBJECT

private slots:
    void address_check_data();
    void address_check();
    void version_search_data();
    void version_search();
    void ack_and_length_decoding();
};

void test_replies::address_check_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("default") << "192.168.1.80" << true;
    QTest::newRow("leading zeros") << "192.168.001.080" << true;
    QTest::newRow("many zeros") << "0000000000127.0.0.1" << true;
    QTest::newRow("edges") << "0.0.0.255" << true;
    QTest::newRow("three parts") << "192.168.1" << false;
    QTest::newRow("five parts") << "192.168.1.80." << false;
    QTest::newRow("empty part") << "192..1.80" << false;
    QTest::newRow("256") << "192.168.1.256" << false;
    QTest::newRow("long number") << "1.2.3.99999999999" << false;
    QTest::newRow("leading blank") << " 192.168.1.80" << false;
    QTest::newRow("sign") << "+1.2.3.4" << false;
    QTest::newRow("letter") << "1.2.3.a" << false;
    QTest::newRow("arabic-indic digit") << QString("1.2.3.") + QChar(0x0664) << false;
    QTest::newRow("empty") << "" << false;
}

void test_replies::address_check()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(is_valid_ipv4_text(text), valid);
}

void test_replies::version_search_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("version");
    QTest::newRow("latest first") << QByteArray("boot r1.0.3 then r1.0.4 end") << "r1.0.4";
    QTest::newRow("prefix letter") << QByteArray("  xr1.0.4") << "r1.0.4";
    QTest::newRow("upper case") << QByteArray("  R1.0.4") << "";
    QTest::newRow("two digits") << QByteArray("  r10.0.4") << "";
    QTest::newRow("only at byte 0") << QByteArray("r1.0.4 and more") << "";
    QTest::newRow("exactly six bytes") << QByteArray("r1.0.4") << "";
    QTest::newRow("at the very end") << QByteArray("\x01"
                                                   "c2.0.7")
                                     << "c2.0.7";
    QTest::newRow("binary around") << QByteArray("\0\0\xff"
                                                 "c2.0.7\0\0",
                                                 11)
                                   << "c2.0.7";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("short") << QByteArray("ab") << "";
}

void test_replies::version_search()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, version);
    QCOMPARE(find_lidar_version(log), version);
}

void test_replies::ack_and_length_decoding()
{
    QCOMPARE(ack_value("0000"), 0);
    QCOMPARE(ack_value("abcd"), 0);
    QCOMPARE(ack_value(" 12 "), 12);
    QCOMPARE(ack_value(QByteArray("7\0"
                                  "99",
                                  4)),
             7);

    QCOMPARE(log_length(QByteArray("\x01\x02\x03\x04", 4)), 0x04030201u);
    QCOMPARE(log_length(QByteArray("\xff\xff\xff\xff", 4)), 0xffffffffu);

    QVERIFY(is_complete_version_reply("c2.0.7"));
    QVERIFY(is_complete_version_reply("xxc2.0.7"));
    QVERIFY(!is_complete_version_reply("2.0.7"));
    QVERIFY(!is_complete_version_reply("c2.0.07"));
    QVERIFY(!is_complete_version_reply("c.2.0.7"));
}

QTEST_MAIN(test_replies)
#include "test_replies.moc"
