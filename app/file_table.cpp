#include "app/file_table.h"

#include <QFont>
#include <QFontMetrics>
#include <QTableWidget>

#include "package/file_list.h"

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

} // namespace

void fill_file_table(QTableWidget *table, const QVector<file_info *> &files)
{
    table->setRowCount(0);
    for (int i = 0; i < files.size(); ++i) {
        const QStringList texts = file_row_texts(*files[i]);
        table->setRowCount(table->rowCount() + 1);
        table->setRowHeight(i, row_height());
        table->setVerticalHeaderItem(i, item_with(QString::number(i + 1)));
        for (int column = 0; column < texts.size(); ++column)
            table->setItem(i, column, item_with(texts[column]));
        table->setItem(i, status_column, waiting_item());
        files[i]->set_row(i);
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
