#ifndef SENSOR_ROWS_H
#define SENSOR_ROWS_H

#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "fleet/fleet_observer.h"
#include "upgrade/sensor_record.h"

class QTableWidget;
class QTableWidgetItem;

// The images a run sends each sensor, in order: each file's bare name and image bytes.
using image_sizes = QVector<QPair<QString, qint64>>;

// The site window's table, a row per sensor found: its tick box, address, version, the
// package's version, result, progress (a bar behind its percentage, the rate and time left in
// its tooltip) and the fleet's message. Rows are found by address, wherever sorting put them.
// Addresses of a range where nothing answered are no rows, only counted.
class sensor_rows
{
public:
    explicit sensor_rows(QTableWidget *table);
    // No rows, nothing counted.
    void clear();
    // The order rows take as sensors are found, whenever they are found.
    void list_in_order(const QStringList &listed);
    // Shows how a sensor ended: its row (new for a sensor not shown yet) and its colour.
    void show_record(const sensor_record &record);
    // A sensor's image streams: its bar and tooltip, out of the images it is sent.
    void show_progress(const QString &address, const image_progress &progress,
                       const image_sizes &images);
    // The rows a run is about to start on wait for it.
    void show_waiting(const QStringList &addresses, const QString &package_version);
    // The ticked rows' addresses, in the table's order.
    QStringList ticked() const;
    // Ticks the rows whose result is one of these, and only those.
    void tick_results(const QVector<record_result> &results);
    // Whether the operator may change the ticks.
    void set_tickable(bool tickable);
    // The latest record of every row, in the table's order, then the empty addresses.
    QVector<sensor_record> records() const;
    // The image bytes a second of the rows that stream now.
    double streaming_rate() const;

private:
    int row_of(const QString &address);
    QTableWidgetItem *cell(int row, int column) const;
    void colour_row(int row, record_result result);

    QTableWidget *table;
    QHash<QString, QTableWidgetItem *> addresses; // each row's Address cell
    QHash<QString, int> order;
    QHash<QString, sensor_record> latest;
    QHash<QString, double> rates; // of the rows that stream
    QVector<sensor_record> empty;
};

#endif
