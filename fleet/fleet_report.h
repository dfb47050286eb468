#ifndef FLEET_REPORT_H
#define FLEET_REPORT_H

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>
#include <atomic>
#include <functional>

#include "package/read_result.h"

#include "upgrade/sensor_run.h"

class QThreadPool;

// Every line of text prefixed with the sensor's address; text itself when there is no sensor.
QString prefixed_lines(const QString &sensor, const QString &text);

// What every record line of a run says of its package, so that a rollout can be traced to the
// exact package and signer.
struct package_stamp {
    QString package;   // the package's identity in hex; empty without a package
    QString signed_by; // the trusted key that signed it; empty when none did
};

// One record line, without the line end: a JSON object whose keys come in the order address,
// old_version, new_version, verified_version, result, message, detail, files, started, seconds,
// package, signed_by, tool; each file's in the order name, bytes, sha256, seconds.
QByteArray record_line(const sensor_record &record, const package_stamp &stamp);

// The end-of-run table: address, old and new version, result, seconds, and the MB/s of the
// images over the time they took to stream, a row for each sensor; then a line counting each
// result, and the empty addresses, which are no sensors.
QString summary_table(const QVector<sensor_record> &records);

// An address as it was listed, and where: "FILE:LINE", or empty for an argument.
struct listed_address {
    QString text;
    QString origin;
};

// The sensors that the records at paths, read in turn as one, leave to do: those whose latest
// line (by the sensor's four numbers) is not upgraded, skipped, current or empty, in the order
// they first appear; or the line that says why a record cannot be read. Lines that are not JSON
// (one cut short by a crash) are passed over, counted in a note for each file.
read_result<QVector<listed_address>> sensors_to_retry(const QStringList &paths);

// What the engineer reads of a fleet run, from any thread: lines on standard error, and the
// record file, one line per sensor written and put on the disk as the sensor ends.
class fleet_report
{
public:
    explicit fleet_report(const package_stamp &stamp = {}) : stamp(stamp) {}
    // Appends to the record file at path, starting on a line of its own; the failure's line
    // when it cannot be written, else empty.
    QString open_record(const QString &path);
    void line(const QString &text);
    void finished(const sensor_record &record);
    // Set once a line could not be written (the failure has been shown and the record takes no
    // more lines): no further sensor may be dialled.
    const std::atomic<bool> &lost_line() const { return lost; }
    // Waits for the pool's sensors to end. At the operator's first interrupt says what it
    // stops and what finishing names ("2 streaming"; empty: nothing runs that will finish); at
    // the second, that the running sensors stop.
    void await(QThreadPool &pool, const std::function<QString()> &finishing);
    // The summary table; true when there were sensors and every one was upgraded or skipped, or
    // was current or found by a check (empty addresses aside), and the record kept every line.
    bool summarise();

private:
    bool write_record(const QByteArray &bytes);
    QString record_failure() const;

    const package_stamp stamp;
    QMutex mutex;
    QFile record_file;
    QVector<sensor_record> records;
    std::atomic<bool> lost{false};
    int interrupts_told = 0;
};

#endif
