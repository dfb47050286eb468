#ifndef FLEET_RECORD_H
#define FLEET_RECORD_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>
#include <atomic>

#include "package/read_result.h"
#include "upgrade/sensor_run.h"

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

// The record file of a run, one line per sensor, each written and put on the disk as the
// sensor ends. Lines come from one thread at a time.
class record_writer
{
public:
    explicit record_writer(const package_stamp &stamp = {}) : stamp(stamp) {}
    // Appends to the record file at path, starting on a line of its own; the failure's line
    // when it cannot be written, else empty.
    QString open(const QString &path);
    // Writes the sensor's line, when a record is open and has kept every line; the failure's
    // line when it could not be written whole and on the disk, else empty.
    QString write(const sensor_record &record);
    // Set once a line could not be written: the record lacks a sensor and takes no more lines.
    const std::atomic<bool> &lost_line() const { return lost; }

private:
    bool write_bytes(const QByteArray &bytes);
    QString failure() const;

    const package_stamp stamp;
    QFile file;
    std::atomic<bool> lost{false};
};

// An address as it was listed, and where: "FILE:LINE", or empty for an argument.
struct listed_address {
    QString text;
    QString origin;
};

// What records leave to do: the sensors, and a note for each file with lines that are not JSON.
struct retry_list {
    QVector<listed_address> addresses;
    QStringList notes;
};

// The sensors that the records at paths, read in turn as one, leave to do: those whose latest
// line (by the sensor's four numbers) is not upgraded, skipped, current or empty, in the order
// they first appear; or the lines that say why a record cannot be read (the notes so far, then
// the failure). Lines that are not JSON (one cut short by a crash) are passed over and counted
// in the notes.
read_result<retry_list> sensors_to_retry(const QStringList &paths);

#endif
