#include <QtTest>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "scoped_workdir.h"

class test_dialog_form : public QObject
{
    Q_OBJECT

private slots:
    void state_before_first_show();
};

void test_dialog_form::state_before_first_show()
{
    scoped_workdir workdir;
    message_catcher catcher;
    Dialog d;
    QCOMPARE(catcher.texts, QStringList(QString::fromUtf8("错误: 配置文件打开失败!")));
    // No icon file in the working directory; start-up never opens the link.
    QVERIFY(d.windowIcon().isNull());
    QCOMPARE(dialog_probe::device(d)->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(d.windowTitle(), QString("Corvalen upgrade tool"));
    QStringList texts;
    for (const char *name :
         {"label", "lineEdit_ip", "pushButton_connect", "pushButton_startupgrade",
          "label_input_directry", "lineEdit_input_directry", "pushButton_browse",
          "label_version_old", "lineEdit_old_version", "label_version_new", "lineEdit_new_version"})
        if (QObject *widget = d.findChild<QObject *>(name))
            texts << widget->property("text").toString();
    QCOMPARE(texts, QStringList({"IP", "192.168.1.80", "connect", "Upgrade", "Directory", "",
                                 "Browse", "current version:", "", "new version:", ""}));
    QVERIFY(dialog_probe::widget<QLineEdit>(d, "lineEdit_old_version")->isReadOnly());
    QVERIFY(dialog_probe::widget<QLineEdit>(d, "lineEdit_new_version")->isReadOnly());
    for (auto *button : d.findChildren<QPushButton *>())
        QVERIFY(!button->isDefault());

    auto *table = dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
    QStringList headers;
    for (int c = 0; c < table->columnCount(); ++c)
        headers << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"Name", "Size", "Format", "Status"}));
    QCOMPARE(table->rowCount(), 0);
    // The cells show the package; the operator cannot change them.
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);

    // The icon is taken from the working directory.
    QPixmap red(16, 16);
    red.fill(Qt::red);
    QVERIFY(red.save("corvalen.png"));
    QCOMPARE(Dialog().windowIcon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
}

QTEST_MAIN(test_dialog_form)
#include "test_dialog_form.moc"
