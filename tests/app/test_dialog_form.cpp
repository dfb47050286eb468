#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QtTest>

#include "dialog_probe.h"
#include "ui_dialog.h"
#include "message_catcher.h"
#include "scoped_workdir.h"

class test_dialog_form : public QObject
{
    Q_OBJECT

private slots:
    void state_before_first_show();
    void table_cells_cannot_be_edited();
    void existing_object_name_is_kept();
    void starts_without_settings_or_icon();
    void icon_is_taken_from_working_directory();
};

void test_dialog_form::state_before_first_show()
{
    scoped_workdir workdir;
    message_catcher catcher;
    Dialog d;

    QCOMPARE(d.objectName(), QString("Dialog"));
    QCOMPARE(d.size(), QSize(933, 432));
    QCOMPARE(d.windowTitle(), QString("Corvalen upgrade tool"));
    QVERIFY(!d.isSizeGripEnabled());

    auto *ip = dialog_probe::widget<QLineEdit>(d, "lineEdit_ip");
    QVERIFY(ip);
    QCOMPARE(ip->text(), QString("192.168.1.80"));
    QCOMPARE(ip->minimumSize(), QSize(200, 0));
    QCOMPARE(dialog_probe::widget<QLineEdit>(d, "lineEdit_input_directry")->text(), QString());
    auto *old_version = dialog_probe::widget<QLineEdit>(d, "lineEdit_old_version");
    auto *new_version = dialog_probe::widget<QLineEdit>(d, "lineEdit_new_version");
    QCOMPARE(old_version->text(), QString());
    QCOMPARE(new_version->text(), QString());
    QVERIFY(old_version->isReadOnly());
    QVERIFY(new_version->isReadOnly());

    const QList<QPair<const char *, const char *>> texts = {
        {"label_input_directry", "Directory"},
        {"label_version_old", "current version:"},
        {"label_version_new", "new version:"},
        {"label", "IP"}};
    for (const auto &t : texts)
        QCOMPARE(dialog_probe::widget<QLabel>(d, t.first)->text(), QString(t.second));
    QCOMPARE(dialog_probe::widget<QPushButton>(d, "pushButton_browse")->text(), QString("Browse"));
    QCOMPARE(dialog_probe::widget<QPushButton>(d, "pushButton_connect")->text(),
             QString("connect"));
    QCOMPARE(dialog_probe::widget<QPushButton>(d, "pushButton_startupgrade")->text(),
             QString("Upgrade"));
    for (const char *box : {"groupBox_dir", "groupBox_2", "groupBox"})
        QCOMPARE(dialog_probe::widget<QGroupBox>(d, box)->title(), QString());
    for (auto *button : d.findChildren<QPushButton *>())
        QVERIFY(!button->isDefault());

    auto *table = dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 4);
    const QStringList headers = {"Name", "Size", "Format", "Status"};
    for (int c = 0; c < 4; ++c)
        QCOMPARE(table->horizontalHeaderItem(c)->text(), headers[c]);
    QCOMPARE(table->lineWidth(), 10);
    QCOMPARE(table->textElideMode(), Qt::ElideLeft);
    QCOMPARE(table->sizeAdjustPolicy(), QAbstractScrollArea::AdjustToContents);
    QCOMPARE(table->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(table->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 200);
    QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 40);
    QCOMPARE(table->verticalHeader()->minimumSectionSize(), 20);
    QVERIFY(table->verticalHeader()->stretchLastSection());

    // The grid: directory row and table over the full width, two boxes below.
    auto *grid = qobject_cast<QGridLayout *>(d.layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QString("gridLayout_4"));
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    int row, column, row_span, column_span;
    grid->getItemPosition(grid->indexOf(table), &row, &column, &row_span, &column_span);
    QCOMPARE(QList<int>({row, column, row_span, column_span}), QList<int>({1, 0, 1, 2}));
    grid->getItemPosition(grid->indexOf(dialog_probe::widget<QGroupBox>(d, "groupBox")), &row,
                          &column, &row_span, &column_span);
    QCOMPARE(QList<int>({row, column, row_span, column_span}), QList<int>({2, 1, 1, 1}));

}

void test_dialog_form::table_cells_cannot_be_edited()
{
    scoped_workdir workdir;
    message_catcher catcher;
    Dialog d;
    auto *table = dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    table->setRowCount(1);
    table->setItem(0, 0, new QTableWidgetItem("cell"));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    const QRect cell = table->visualItemRect(table->item(0, 0));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClicks(table->viewport(), "x");
    QVERIFY(table->viewport()->findChildren<QLineEdit *>().isEmpty());
    QCOMPARE(table->item(0, 0)->text(), QString("cell"));
}


void test_dialog_form::existing_object_name_is_kept()
{
    scoped_workdir workdir;
    message_catcher catcher;
    QDialog parent;
    Dialog d(&parent);
    QCOMPARE(d.parent(), &parent);
    d.setObjectName("renamed");
    QCOMPARE(d.objectName(), QString("renamed"));

    // The form sets "Dialog" only as a default: re-running it keeps the name.
    Ui_Dialog form;
    QDialog plain;
    plain.setObjectName("kept");
    form.setupUi(&plain);
    QCOMPARE(plain.objectName(), QString("kept"));
    QCOMPARE(form.lineEdit_ip->text(), QString("192.168.1.80"));
}

void test_dialog_form::starts_without_settings_or_icon()
{
    scoped_workdir workdir;
    message_catcher catcher;
    Dialog d;
    // The settings message comes once, before the window is shown.
    QCOMPARE(catcher.texts, QStringList({QString::fromUtf8("错误: 配置文件打开失败!")}));
    QVERIFY(!d.isVisible());
    QVERIFY(d.windowIcon().isNull());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(d.isVisible());
    QCOMPARE(dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist")->rowCount(), 0);
    QVERIFY(dialog_probe::config_entries(d).isEmpty());
    // Start-up never opens the link.
    QCOMPARE(dialog_probe::device(d)->state(), QAbstractSocket::UnconnectedState);
    d.reject();
    QVERIFY(!d.isVisible());
}

void test_dialog_form::icon_is_taken_from_working_directory()
{
    scoped_workdir workdir;
    message_catcher catcher;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    QVERIFY(pixmap.save(QDir(workdir.path()).filePath("corvalen.png")));
    Dialog d;
    QVERIFY(!d.windowIcon().isNull());
    QCOMPARE(d.windowIcon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
}

QTEST_MAIN(test_dialog_form)
#include "test_dialog_form.moc"
