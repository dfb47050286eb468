#ifndef FLEET_REPORT_H
#define FLEET_REPORT_H

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QVector>
#include <atomic>

#include "upgrade/sensor_run.h"

// One record line: a JSON object, without the line end.
QByteArray record_line(const sensor_record &record);

// The end-of-run table: address, old and new version, result, seconds, MB/s.
QString summary_table(const QVector<sensor_record> &records);

// What the engineer reads of a fleet run, from any thread: lines on standard error, and the
// record file, one line per sensor written and put on the disk as the sensor ends.
class fleet_report
{
public:
    // Appends to the record file at path, starting on a line of its own; the failure's line
    // when it cannot be written, else empty.
    QString open_record(const QString &path);
    void line(const QString &text);
    void finished(const sensor_record &record);
    // Whether a line could not be written: the failure has been shown and the record takes
    // no more lines.
    bool record_lost() const;
    // The summary table; true when every sensor was upgraded or skipped and the record kept
    // every line.
    bool summarise();

private:
    bool write_record(const QByteArray &bytes);
    QString record_failure() const;

    QMutex mutex;
    QFile record_file;
    QVector<sensor_record> records;
    std::atomic<bool> lost{false};
};

#endif
