#include "package/file_table.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QTableWidget>

#include "app/dialog.h"
#include "app/paths.h"
#include "ui_dialog.h"

namespace
{

const int min_row_height = 30;
// Above and below the Status text.
const int text_margin = 2;

QFont status_font()
{
    QFont font;
    font.setPointSize(15);
    font.setWeight(QFont::Bold);
    return font;
}

// The form's height, or more where the bold Status text needs it (a large font resolution).
int row_height()
{
    return qMax(min_row_height, QFontMetrics(status_font()).height() + 2 * text_margin);
}

QTableWidgetItem *item_with(const QString &text)
{
    auto *item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, text);
    return item;
}

QTableWidgetItem *waiting_item()
{
    QTableWidgetItem *item = item_with("waiting");
    item->setData(Qt::FontRole, status_font());
    return item;
}

// The size as the table shows it: the low 32 bits of the file system's size.
int low_32_bit_size(const QString &path)
{
    return static_cast<int>(static_cast<quint32>(QFileInfo(path).size()));
}

} // namespace

void Dialog::refresh_file_list(const QString &dir)
{
    qDeleteAll(file_list);
    file_list.clear();
    package_dir = dir;
    for (const file_info *setting : qAsConst(config_entries)) {
        auto *entry = new file_info;
        entry->set_name(join_path(dir, setting->get_name()));
        entry->set_size(low_32_bit_size(entry->get_name()));
        entry->set_format(setting->get_format());
        file_list.append(entry);
    }
    config_reader.dump_file_list(file_list);

    QTableWidget *table = ui->tableWidget_filelist;
    table->setRowCount(0);
    for (int i = 0; i < file_list.size(); ++i) {
        file_info *entry = file_list[i];
        table->setRowCount(table->rowCount() + 1);
        table->setRowHeight(i, row_height());
        table->setVerticalHeaderItem(i, item_with(QString::number(i + 1)));
        table->setItem(i, 0, item_with(entry->get_name().split('/').last()));
        table->setItem(i, 1, item_with(QString::number(entry->get_size()) + "Byte"));
        table->setItem(i, 2, item_with(entry->get_format() == 0 ? "TXT" : "HEX"));
        table->setItem(i, status_column, waiting_item());
        entry->set_row(i);
    }
}

void mark_upgrading(QTableWidget *table, int row)
{
    table->item(row, status_column)->setText("upgrading");
}

void mark_finished(QTableWidget *table, int row)
{
    table->item(row, status_column)->setText("finished");
    for (int column = 0; column < table->columnCount(); ++column)
        table->item(row, column)->setData(Qt::BackgroundRole, QColor(Qt::green));
}
