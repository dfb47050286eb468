#include <QPainter>
#include <QStandardItemModel>
#include <QtTest>

#include "app/progress_delegate.h"
#include "dialog_probe.h"
#include "message_catcher.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"

class test_dialog_form : public QObject
{
    Q_OBJECT

private slots:
    void state_before_first_show();
    void progress_bar_fills_its_share();
    void rows_fit_their_font();
    void enter_in_a_field_data();
    void enter_in_a_field();
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
        QVERIFY(!button->isDefault() && !button->autoDefault());

    auto *table = dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
    QStringList headers;
    for (int c = 0; c < table->columnCount(); ++c)
        headers << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"Name", "Size", "Format", "Status"}));
    QCOMPARE(table->rowCount(), 0);
    // The cells show the package; the operator cannot change them.
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    // Long names lose their start, not their file name: wrapping would defeat that.
    QVERIFY(!table->wordWrap());

    // The icon is taken from the working directory.
    QPixmap red(16, 16);
    red.fill(Qt::red);
    QVERIFY(red.save("corvalen.png"));
    QCOMPARE(Dialog().windowIcon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
}

void test_dialog_form::progress_bar_fills_its_share()
{
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), 37, progress_role);
    QImage cell(200, 30, QImage::Format_RGB32);
    cell.fill(Qt::white);
    QPainter painter(&cell);
    QStyleOptionViewItem option;
    option.rect = cell.rect();
    progress_delegate().paint(&painter, option, model.index(0, 0));
    int filled = 0;
    for (int x = 0; x < cell.width(); ++x)
        filled += cell.pixel(x, 1) != QColor(Qt::white).rgb();
    QCOMPARE(filled, 74);
}

// CTest runs this program at several QT_SCALE_FACTORs too.
void test_dialog_form::rows_fit_their_font()
{
    scoped_workdir workdir;
    QFile config("config");
    QVERIFY(config.open(QIODevice::WriteOnly) && config.write("a.bin 1\nb.txt 0\n") > 0);
    config.close();
    Dialog d;
    QVERIFY(d.devicePixelRatioF() >= qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());
    d.refresh_file_list(workdir.path());
    auto *table = dialog_probe::widget<QTableWidget>(d, "tableWidget_filelist");
    QCOMPARE(table->rowCount(), 2);
    for (int row = 0; row < table->rowCount(); ++row)
        for (int column = 0; column < table->columnCount(); ++column)
            QVERIFY(table->rowHeight(row) >=
                    QFontMetrics(table->item(row, column)->font()).height());
}

void test_dialog_form::enter_in_a_field_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("version");
    QTest::newRow("IP field connects") << "lineEdit_ip"
                                       << "c2.0.7";
    QTest::newRow("Directory field does nothing more") << "lineEdit_input_directry"
                                                       << "";
}

void test_dialog_form::enter_in_a_field()
{
    QFETCH(QString, field);
    QFETCH(QString, version);
    scoped_workdir workdir;
    simulated_sensor sensor({}, 50661);
    QVERIFY(sensor.wait_listening());
    message_catcher catcher;
    QStringList opened;
    catcher.on_other_modal = [&opened](QWidget *modal) {
        opened << modal->windowTitle();
        modal->close();
    };
    Dialog d;
    dialog_probe::widget<QLineEdit>(d, "lineEdit_ip")->setText("127.0.0.1");
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QTest::keyClick(dialog_probe::widget<QLineEdit>(d, qPrintable(field)), Qt::Key_Return);
    QCOMPARE(dialog_probe::widget<QLineEdit>(d, "lineEdit_old_version")->text(), version);
    QCOMPARE(opened, QStringList());
}

int main(int argc, char *argv[])
{
    Dialog::use_high_dpi_scaling(); // as the tool starts
    QApplication app(argc, argv);
    test_dialog_form test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_dialog_form.moc"
