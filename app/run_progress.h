#ifndef RUN_PROGRESS_H
#define RUN_PROGRESS_H

#include <QElapsedTimer>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QVector>

class QTableWidget;
class QTableWidgetItem;

// The window's view of one upgrade run, while it lives. Each row that has sent image bytes
// holds its share in its Status cell (progress_role, 0 to 100; the cell's text is left alone)
// and the rate and time left in the cell's tooltip; the window title begins with the run's
// percentage. The view changes at most ten times a second; a tooltip on show follows it. When
// it ends, every row keeps its last share and the window its form's title.
class run_progress : public QObject
{
public:
    // listed_bytes: each row's expected bytes, until image_bytes tells the row's total.
    run_progress(QTableWidget *table, int column, const QVector<qint64> &listed_bytes);
    ~run_progress() override;

    // sent of the row's total image bytes have been handed to the sensor.
    void image_bytes(int row, qint64 sent, qint64 total);
    // The run stopped while this row streamed.
    void stopped(int row);

private:
    void show_pending();
    void show_row(int row, double bytes_per_second);
    void refresh_shown_tooltip(const QTableWidgetItem *item);
    void show_title(qint64 run_sent);
    double recent_rate(qint64 run_sent);

    QTableWidget *table;
    int column;
    QString form_title;
    QVector<qint64> sent; // -1 until the row's first report
    QVector<qint64> totals;
    bool pending = false;
    QTimer quiet;
    QElapsedTimer clock;
    QVector<QPair<qint64, qint64>> samples; // (ms, bytes sent in the run) of the last seconds
};

#endif
