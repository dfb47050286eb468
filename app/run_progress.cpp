#include "app/run_progress.h"

#include <QCursor>
#include <QTableWidget>
#include <QToolTip>
#include <numeric>

#include "gui/progress_delegate.h"

namespace
{

const int quiet_ms = 100;
const qint64 rate_window_ms = 3000;

int percent(qint64 part, qint64 whole)
{
    return whole > 0 ? int(part * 100 / whole) : 100;
}

QString minutes_seconds(qint64 seconds)
{
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

} // namespace

run_progress::run_progress(QTableWidget *table, int column, const QVector<qint64> &listed_bytes)
    : table(table), column(column), form_title(table->window()->windowTitle()),
      sent(listed_bytes.size(), -1), totals(listed_bytes)
{
    quiet.setSingleShot(true);
    quiet.setInterval(quiet_ms);
    connect(&quiet, &QTimer::timeout, this, &run_progress::show_pending);
    clock.start();
    show_title(0);
}

run_progress::~run_progress()
{
    show_pending();
    // A rate and time left mean nothing once the run is over.
    for (int row = 0; row < sent.size(); ++row)
        if (sent[row] >= 0)
            table->item(row, column)->setToolTip(QString());
    table->window()->setWindowTitle(form_title);
}

void run_progress::image_bytes(int row, qint64 bytes, qint64 total)
{
    if (row < 0 || row >= sent.size())
        return;
    // A row stopped in an earlier run streams anew.
    if (sent[row] < 0)
        table->item(row, column)->setData(stopped_role, QVariant());
    sent[row] = bytes;
    totals[row] = total;
    pending = true;
    if (!quiet.isActive())
        show_pending();
}

void run_progress::stopped(int row)
{
    if (row >= 0 && row < sent.size())
        table->item(row, column)->setData(stopped_role, true);
}

// Shows what was reported since the last time, then keeps quiet for a while.
void run_progress::show_pending()
{
    if (!pending)
        return;
    pending = false;
    quiet.start();
    const qint64 run_sent =
        std::accumulate(sent.begin(), sent.end(), qint64(0),
                        [](qint64 sum, qint64 s) { return sum + qMax(s, qint64(0)); });
    const double rate = recent_rate(run_sent);
    for (int row = 0; row < sent.size(); ++row)
        if (sent[row] >= 0)
            show_row(row, rate);
    show_title(run_sent);
}

void run_progress::show_row(int row, double bytes_per_second)
{
    QTableWidgetItem *item = table->item(row, column);
    item->setData(progress_role, percent(sent[row], totals[row]));
    const qint64 left = totals[row] - sent[row];
    item->setToolTip(bytes_per_second <= 0 || left <= 0
                         ? QString()
                         : QString("%1 MB/s, %2 left")
                               .arg(bytes_per_second / 1e6, 0, 'f', 1)
                               .arg(minutes_seconds(qint64(left / bytes_per_second + 0.5))));
    refresh_shown_tooltip(item);
}

// A tooltip keeps the text it was shown with; shown again over the same cell, it is live.
void run_progress::refresh_shown_tooltip(const QTableWidgetItem *item)
{
    if (!QToolTip::isVisible())
        return;
    const QRect cell = table->visualItemRect(item);
    if (cell.contains(table->viewport()->mapFromGlobal(QCursor::pos())))
        QToolTip::showText(QCursor::pos(), item->toolTip(), table->viewport(), cell);
}

void run_progress::show_title(qint64 run_sent)
{
    const qint64 run_total = std::accumulate(totals.begin(), totals.end(), qint64(0));
    table->window()->setWindowTitle(
        QString("%1 % \u00b7 %2").arg(percent(run_sent, run_total)).arg(form_title));
}

// Bytes a second over the last few seconds; 0 until there are two samples.
double run_progress::recent_rate(qint64 run_sent)
{
    const qint64 now = clock.elapsed();
    samples.append({now, run_sent});
    while (now - samples.first().first > rate_window_ms)
        samples.removeFirst();
    const qint64 ms = now - samples.first().first;
    return ms > 0 ? (run_sent - samples.first().second) * 1000.0 / ms : 0;
}
