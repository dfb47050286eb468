#include "site/sensor_rows.h"

#include <QHeaderView>
#include <QHostAddress>
#include <QTableWidget>

#include "gui/progress_delegate.h"

namespace
{

enum column {
    tick_column,
    address_column,
    version_column,
    package_column,
    result_column,
    progress_column,
    message_column,
    column_count
};

// What a cell sorts by, where its text would sort wrongly (addresses, percentages).
constexpr int sort_role = Qt::UserRole + 10;

class sorted_item : public QTableWidgetItem
{
public:
    bool operator<(const QTableWidgetItem &other) const override
    {
        const QVariant key = data(sort_role);
        if (key.isValid())
            return key.toLongLong() < other.data(sort_role).toLongLong();
        if (data(Qt::CheckStateRole).isValid())
            return checkState() < other.checkState();
        return QTableWidgetItem::operator<(other);
    }
};

QString minutes_seconds(qint64 seconds)
{
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

void set_progress(QTableWidgetItem *item, int percent)
{
    item->setData(progress_role, percent);
    item->setData(sort_role, percent);
    item->setText(QString("%1 %").arg(percent));
}

} // namespace

sensor_rows::sensor_rows(QTableWidget *table) : table(table)
{
    table->setItemDelegateForColumn(progress_column, new progress_delegate(table));
    const QVector<QPair<int, int>> widths{
        {tick_column, 28}, {address_column, 130}, {result_column, 100}, {progress_column, 120}};
    for (const auto &width : widths)
        table->setColumnWidth(width.first, width.second);
    QHeaderView *header = table->horizontalHeader();
    // Unsorted until a header is clicked; a second click sorts the other way.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true);
    QObject::connect(header, &QHeaderView::sortIndicatorChanged, table, &QTableWidget::sortItems);
}

void sensor_rows::clear()
{
    table->setRowCount(0);
    addresses.clear();
    latest.clear();
    rates.clear();
    empty.clear();
}

QTableWidgetItem *sensor_rows::cell(int row, int column) const
{
    return table->item(row, column);
}

void sensor_rows::list_in_order(const QStringList &listed)
{
    order.clear();
    for (int i = 0; i < listed.size(); ++i)
        order.insert(listed[i], i);
}

// The row of a sensor, made when it has none: before the first row listed after it.
int sensor_rows::row_of(const QString &address)
{
    if (const QTableWidgetItem *item = addresses.value(address))
        return item->row();
    int row = 0;
    while (row < table->rowCount() &&
           order.value(cell(row, address_column)->text()) < order.value(address))
        ++row;
    table->insertRow(row);
    for (int column = 0; column < column_count; ++column)
        table->setItem(row, column, new sorted_item);
    QTableWidgetItem *tick = cell(row, tick_column);
    tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    tick->setCheckState(Qt::Unchecked);
    cell(row, address_column)->setText(address);
    cell(row, address_column)->setData(sort_role, QHostAddress(address).toIPv4Address());
    addresses.insert(address, cell(row, address_column));
    return row;
}

void sensor_rows::show_record(const sensor_record &record)
{
    const record_result result = result_of(record);
    rates.remove(record.address);
    if (result == record_result::empty) {
        empty.append(record);
        return;
    }
    const bool shown = latest.contains(record.address);
    latest.insert(record.address, record);
    const int row = row_of(record.address);
    const QString version =
        record.verified_version.isEmpty() ? record.old_version : record.verified_version;
    cell(row, version_column)->setText(version);
    cell(row, package_column)->setText(record.new_version);
    cell(row, result_column)->setText(result_name(result));
    cell(row, message_column)->setText(record.result.message().replace("\r\n", " "));
    cell(row, message_column)->setToolTip(record.result.detail);
    QTableWidgetItem *progress = cell(row, progress_column);
    progress->setToolTip(QString());
    if (result == record_result::upgraded)
        set_progress(progress, 100);
    progress->setData(stopped_role,
                      result == record_result::failed || result == record_result::interrupted);
    colour_row(row, result);
    // A sensor found anew takes its place in the sorted table.
    const QHeaderView *header = table->horizontalHeader();
    if (!shown && header->sortIndicatorSection() >= 0)
        table->sortItems(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

// Finished rows green, failed ones red, those interrupted or never started grey.
void sensor_rows::colour_row(int row, record_result result)
{
    QVariant colour;
    if (result == record_result::upgraded || result == record_result::skipped ||
        result == record_result::current)
        colour = QColor(Qt::green);
    else if (result == record_result::failed || result == record_result::refused ||
             result == record_result::unreachable)
        colour = QColor(255, 160, 160);
    else if (result == record_result::interrupted || result == record_result::not_started)
        colour = QColor(Qt::lightGray);
    for (int column = 0; column < column_count; ++column)
        cell(row, column)->setData(Qt::BackgroundRole, colour);
}

void sensor_rows::show_progress(const QString &address, const image_progress &progress,
                                const image_sizes &images)
{
    qint64 before = 0;
    qint64 total = 0;
    bool seen = false;
    for (const auto &image : images) {
        seen = seen || image.first == progress.file;
        before += seen ? 0 : image.second;
        total += image.second;
    }
    const qint64 done = before + progress.taken;
    const int row = row_of(address);
    cell(row, result_column)->setText("streaming");
    QTableWidgetItem *bar = cell(row, progress_column);
    set_progress(bar, total > 0 ? int(qMin(done, total) * 100 / total) : 0);
    const double rate = progress.seconds > 0 ? progress.taken / progress.seconds : 0;
    rates.insert(address, rate);
    bar->setToolTip(rate <= 0 ? QString()
                              : QString("%1 MB/s, %2 left")
                                    .arg(rate / 1e6, 0, 'f', 1)
                                    .arg(minutes_seconds(qint64((total - done) / rate + 0.5))));
}

void sensor_rows::show_waiting(const QStringList &waiting, const QString &package_version)
{
    for (const QString &address : waiting) {
        const int row = row_of(address);
        cell(row, package_column)->setText(package_version);
        cell(row, result_column)->setText("waiting");
        cell(row, message_column)->setText(QString());
        QTableWidgetItem *bar = cell(row, progress_column);
        set_progress(bar, 0);
        bar->setData(stopped_role, QVariant());
        colour_row(row, record_result::found);
    }
}

QStringList sensor_rows::ticked() const
{
    QStringList ticked;
    for (int row = 0; row < table->rowCount(); ++row)
        if (cell(row, tick_column)->checkState() == Qt::Checked)
            ticked << cell(row, address_column)->text();
    return ticked;
}

void sensor_rows::tick_results(const QVector<record_result> &results)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        const sensor_record record = latest.value(cell(row, address_column)->text());
        const bool tick = !record.address.isEmpty() && results.contains(result_of(record));
        cell(row, tick_column)->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
    }
}

void sensor_rows::set_tickable(bool tickable)
{
    const Qt::ItemFlags flags =
        tickable ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled;
    for (int row = 0; row < table->rowCount(); ++row)
        cell(row, tick_column)->setFlags(flags);
}

QVector<sensor_record> sensor_rows::records() const
{
    QVector<sensor_record> all;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString address = cell(row, address_column)->text();
        if (latest.contains(address))
            all << latest.value(address);
    }
    return all + empty;
}

double sensor_rows::streaming_rate() const
{
    double sum = 0;
    for (const double rate : rates)
        sum += rate;
    return sum;
}
