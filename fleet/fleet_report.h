#ifndef FLEET_REPORT_H
#define FLEET_REPORT_H

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QVector>
#include <atomic>

#include "upgrade/sensor_run.h"

// Every line of text prefixed with the sensor's address; text itself when there is no sensor.
QString prefixed_lines(const QString &sensor, const QString &text);

// One record line, without the line end: a JSON object whose keys come in the order address,
// old_version, new_version, result, message, detail, files, started, seconds; each file's in
// the order name, bytes, sha256, seconds.
QByteArray record_line(const sensor_record &record);

// The end-of-run table: address, old and new version, result, seconds, and the MB/s of the
// images over the time they took to stream.
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
