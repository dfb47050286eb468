#ifndef FLEET_REPORT_H
#define FLEET_REPORT_H

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "package/read_result.h"

#include "upgrade/sensor_run.h"

// One record line: a JSON object, without the line end.
QByteArray record_line(const sensor_record &record);

// Whether a sensor has a row in the summary table.
using listed_in_summary = std::function<bool(const sensor_record &)>;

// The end-of-run table: address, old and new version, result, seconds, MB/s, a row for each
// listed record; then a line counting every record's result.
QString summary_table(const QVector<sensor_record> &records, const listed_in_summary &listed);

// The sensors whose latest line in the record at path is not upgraded, skipped or current, in
// the order they first appear there; or the line that says why the record cannot be read.
read_result<QStringList> sensors_to_retry(const QString &path);

// What the engineer reads of a fleet run, from any thread: lines on standard error, and the
// record file, one line per sensor written and flushed as the sensor ends.
class fleet_report
{
public:
    // Appends to the record file at path; false when it cannot be written.
    bool open_record(const QString &path);
    void line(const QString &text);
    void finished(const sensor_record &record);
    // The summary table, with rows for the records listed accepts (all when it is empty); true
    // when every sensor was upgraded or skipped, or was current or found by a check.
    bool summarise(const listed_in_summary &listed = {});

private:
    QMutex mutex;
    QFile record_file;
    QVector<sensor_record> records;
};

#endif
