#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QtTest>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "scoped_workdir.h"

class test_dialog_form : public QObject
{
    Q_OBJECT

private slots:
    void state_before_first_show();
    void table_cells_cannot_be_edited();
    void icon_is_taken_from_working_directory();
};

void test_dialog_form::state_before_first_show()
{
    scoped_workdir workdir;
    message_catcher catcher;
    Dialog d;

    struct expected {
        const char *object;
        const char *property;
        QVariant value;
    };
    const QList<expected> form = {
        {"Dialog", "size", QSize(933, 432)},
        {"Dialog", "windowTitle", "Corvalen upgrade tool"},
        {"Dialog", "sizeGripEnabled", false},
        {"lineEdit_ip", "text", "192.168.1.80"},
        {"lineEdit_ip", "minimumSize", QSize(200, 0)},
        {"lineEdit_input_directry", "text", ""},
        {"lineEdit_old_version", "text", ""},
        {"lineEdit_old_version", "readOnly", true},
        {"lineEdit_new_version", "text", ""},
        {"lineEdit_new_version", "readOnly", true},
        {"label_input_directry", "text", "Directory"},
        {"label_version_old", "text", "current version:"},
        {"label_version_new", "text", "new version:"},
        {"label", "text", "IP"},
        {"pushButton_browse", "text", "Browse"},
        {"pushButton_connect", "text", "connect"},
        {"pushButton_startupgrade", "text", "Upgrade"},
        {"groupBox_dir", "title", ""},
        {"groupBox_2", "title", ""},
        {"groupBox", "title", ""},
        {"tableWidget_filelist", "rowCount", 0},
        {"tableWidget_filelist", "columnCount", 4},
        {"tableWidget_filelist", "lineWidth", 10},
        {"tableWidget_filelist", "textElideMode", int(Qt::ElideLeft)},
        {"tableWidget_filelist", "sizeAdjustPolicy", int(QAbstractScrollArea::AdjustToContents)},
    };
    // No icon file in the working directory; start-up never opens the link.
    QVERIFY(d.windowIcon().isNull());
    QCOMPARE(dialog_probe::device(d)->state(), QAbstractSocket::UnconnectedState);
    for (const expected &e : form) {
        const QObject *object = d.objectName() == e.object ? &d : d.findChild<QObject *>(e.object);
        QVERIFY2(object, e.object);
        QCOMPARE(object->property(e.property).toString(), e.value.toString());
    }
    for (auto *button : d.findChildren<QPushButton *>())
        QVERIFY(!button->isDefault());

    auto *table = dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
    const QStringList headers = {"Name", "Size", "Format", "Status"};
    for (int c = 0; c < 4; ++c)
        QCOMPARE(table->horizontalHeaderItem(c)->text(), headers[c]);
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
