#include <QPainter>
#include <QStandardItemModel>
#include <QtTest>

#include "app/scaling.h"
#include "dialog_probe.h"
#include "gui/progress_delegate.h"
#include "message_catcher.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"
#include "test_net.h"

class test_dialog_form : public QObject
{
    Q_OBJECT

private slots:
    void state_before_first_show();
    void scale_follows_the_desktop_setting();
    void progress_bar_fills_its_share();
    void table_rows_and_tab_order();
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

// Offscreen has no X desktop: the pick of the scale is tested by itself.
void test_dialog_form::scale_follows_the_desktop_setting()
{
    QCOMPARE(x_desktop_dpi({}) / 96.0, 1.0);
    QCOMPARE(x_desktop_dpi("Xcursor.size:\t24\nXft.dpi:\t144\nXft.rgba:\trgb\n") / 96.0, 1.5);
    QCOMPARE(x_desktop_dpi("Xft.dpi:\tlarge\n") / 96.0, 1.0);
}

void test_dialog_form::progress_bar_fills_its_share()
{
    for (const bool stopped : {false, true}) {
        QStandardItemModel model(1, 1);
        model.setData(model.index(0, 0), 37, progress_role);
        model.setData(model.index(0, 0), stopped, stopped_role);
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
        // A stopped run's bar is plainly red, a running one's is not.
        const QColor bar = cell.pixelColor(0, 1);
        QCOMPARE(bar.red() > bar.green() && bar.red() > bar.blue(), stopped);
    }
}

// CTest runs this program at several QT_SCALE_FACTORs too. Tab and Shift+Tab go through every
// input once, the file table too, and round again.
void test_dialog_form::table_rows_and_tab_order()
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
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QStringList order = {
        "lineEdit_input_directry", "pushButton_browse",       "tableWidget_filelist",
        "lineEdit_old_version",    "lineEdit_new_version",    "lineEdit_ip",
        "pushButton_connect",      "pushButton_startupgrade", "lineEdit_input_directry"};
    for (const auto modifier : {Qt::NoModifier, Qt::ShiftModifier}) {
        QStringList visited = {order.first()};
        d.findChild<QWidget *>(order.first())->setFocus();
        for (int i = 1; i < order.size() && QApplication::focusWidget(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifier);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, order);
        std::reverse(order.begin(), order.end());
    }
}

void test_dialog_form::enter_in_a_field_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("chooser");
    QTest::newRow("IP field connects") << "lineEdit_ip"
                                       << "c2.0.7" << false;
    QTest::newRow("Directory field does nothing more") << "lineEdit_input_directry"
                                                       << "" << false;
    QTest::newRow("focused connect presses") << "pushButton_connect"
                                             << "c2.0.7" << false;
    QTest::newRow("focused Browse presses") << "pushButton_browse"
                                            << "" << true;
}

void test_dialog_form::enter_in_a_field()
{
    QFETCH(QString, field);
    QFETCH(QString, version);
    QFETCH(bool, chooser);
    scoped_workdir workdir;
    simulated_sensor sensor({}, 50661, {}, QHostAddress(test_address(1)));
    QVERIFY(sensor.wait_listening());
    message_catcher catcher;
    QStringList opened;
    catcher.on_other_modal = [&opened](QWidget *modal) {
        opened << modal->windowTitle();
        modal->close();
    };
    Dialog d;
    dialog_probe::widget<QLineEdit>(d, "lineEdit_ip")->setText(test_address(1));
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    auto *target = dialog_probe::widget<QWidget>(d, qPrintable(field));
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(dialog_probe::widget<QLineEdit>(d, "lineEdit_old_version")->text(), version);
    QCOMPARE(opened, chooser ? QStringList("Find Files") : QStringList());
}

int main(int argc, char *argv[])
{
    Dialog::use_high_dpi_scaling(); // as the tool starts
    QApplication app(argc, argv);
    test_dialog_form test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_dialog_form.moc"
