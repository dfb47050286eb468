#include "fleet/fleet_report.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QMutexLocker>

#include "app/console.h"
#include "fleet/disk_sync.h"
#include "fleet/interrupts.h"

namespace
{

const char *const result_names[] = {"upgraded", "skipped",    "failed",  "interrupted",
                                    "current",  "outdated",   "refused", "unreachable",
                                    "found",    "not_started"};
// The results that leave a sensor nothing more to do.
const QStringList done_results{"upgraded", "skipped", "current"};

using json_members = QVector<QPair<QString, QByteArray>>;

// A JSON value's text.
QByteArray json_text(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// A JSON object with its members in the order given: QJsonObject would sort them.
QByteArray ordered_object(const json_members &members)
{
    QByteArrayList texts;
    for (const auto &member : members)
        texts << json_text(member.first) + ':' + member.second;
    return '{' + texts.join(',') + '}';
}

QJsonValue text_or_null(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : text;
}

QByteArray file_object(const sent_file &file)
{
    return ordered_object({{"name", json_text(file.name)},
                           {"bytes", json_text(double(file.bytes))},
                           {"sha256", json_text(QString::fromLatin1(file.sha256.toHex()))},
                           {"seconds", json_text(file.seconds)}});
}

// The images' MB/s over the time they took to stream; 0 without an image.
double streaming_rate(const sensor_record &record)
{
    qint64 bytes = 0;
    double seconds = 0;
    for (const sent_file &file : record.files) {
        bytes += file.bytes;
        seconds += file.seconds;
    }
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

QString result_line(const sensor_record &record)
{
    QString text = record.address + ": " + result_names[record.result];
    if (!record.message.isEmpty())
        text += ": " + QString(record.message).replace("\r\n", " ").replace('\n', " / ");
    if (!record.detail.isEmpty())
        text += " (" + record.detail + ")";
    return text + QString(" (%1 s)").arg(record.seconds, 0, 'f', 1);
}

// "43 sensors: 2 current, 1 outdated, 40 unreachable (37 not listed)"
QString result_counts(const QVector<sensor_record> &records, int unlisted)
{
    QMap<int, int> counts;
    for (const sensor_record &record : records)
        ++counts[record.result];
    QStringList parts;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count)
        parts << QString("%1 %2").arg(count.value()).arg(result_names[count.key()]);
    QString line = QString("%1 sensors: %2").arg(records.size()).arg(parts.join(", "));
    return unlisted ? line + QString(" (%1 not listed)").arg(unlisted) : line;
}

QString versions(const sensor_record &record)
{
    return record.new_version.isEmpty() ? record.old_version
                                        : record.old_version + " -> " + record.new_version;
}

// Whether the file ends in the middle of a line, cut by an earlier run's crash. Only a plain
// file is looked at: opening a pipe to read could wait for ever.
bool ends_mid_line(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) && file.size() > 0 &&
           file.seek(file.size() - 1) && !file.read(1).endsWith('\n');
}

} // namespace

QString prefixed_lines(const QString &sensor, const QString &text)
{
    if (sensor.isEmpty())
        return text;
    QStringList lines = text.split('\n');
    for (QString &line : lines)
        line.prepend(sensor + ": ");
    return lines.join('\n');
}

QByteArray record_line(const sensor_record &record, const package_stamp &stamp)
{
    QByteArrayList files;
    for (const sent_file &file : record.files)
        files << file_object(file);
    const QJsonValue detail = record.detail.isEmpty() ? QJsonValue() : record.detail;
    const QJsonValue verified =
        record.verified_version.isEmpty() ? QJsonValue() : record.verified_version;
    return ordered_object({{"address", json_text(record.address)},
                           {"old_version", json_text(record.old_version)},
                           {"new_version", json_text(record.new_version)},
                           {"verified_version", json_text(verified)},
                           {"result", json_text(result_names[record.result])},
                           {"message", json_text(record.message)},
                           {"detail", json_text(detail)},
                           {"files", '[' + files.join(',') + ']'},
                           {"started", json_text(record.started.toString(Qt::ISODate))},
                           {"seconds", json_text(record.seconds)},
                           {"package", json_text(text_or_null(stamp.package))},
                           {"signed_by", json_text(text_or_null(stamp.signed_by))},
                           {"tool", json_text(CORVALEN_VERSION)}});
}

QString summary_table(const QVector<sensor_record> &records, const listed_in_summary &listed)
{
    int unlisted = 0;
    QString table = QString("%1 %2 %3 %4 %5\n")
                        .arg("address", -15)
                        .arg("old -> new", -20)
                        .arg("result", -11)
                        .arg("seconds", 8)
                        .arg("MB/s", 7);
    for (const sensor_record &record : records) {
        if (listed && !listed(record)) {
            ++unlisted;
            continue;
        }
        const double rate = streaming_rate(record);
        table += QString("%1 %2 %3 %4 %5\n")
                     .arg(record.address, -15)
                     .arg(versions(record), -20)
                     .arg(result_names[record.result], -11)
                     .arg(record.seconds, 8, 'f', 1)
                     .arg(rate, 7, 'f', 2);
    }
    return table + result_counts(records, unlisted);
}

read_result<QStringList> sensors_to_retry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return read_result<QStringList>::failed("error: cannot read record " + path + "!");
    QStringList order;
    QHash<QString, QString> latest;
    while (!file.atEnd()) {
        const QJsonObject object = QJsonDocument::fromJson(file.readLine()).object();
        const QString address = object["address"].toString();
        // A line cut short by a crash names no result.
        if (address.isEmpty() || !object["result"].isString())
            continue;
        if (!latest.contains(address))
            order << address;
        latest[address] = object["result"].toString();
    }
    QStringList left;
    for (const QString &address : qAsConst(order))
        if (!done_results.contains(latest[address]))
            left << address;
    return read_result<QStringList>::ok(left);
}

QString fleet_report::open_record(const QString &path)
{
    const bool fresh_line = ends_mid_line(path);
    record_file.setFileName(path);
    // Unbuffered: each line reaches the system in one write whose outcome is known at once.
    if (!record_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                          QIODevice::Unbuffered) ||
        (fresh_line && !write_record("\n")))
        return record_failure();
    return {};
}

bool fleet_report::write_record(const QByteArray &bytes)
{
    return record_file.write(bytes) == bytes.size() && sync_to_disk(record_file);
}

QString fleet_report::record_failure() const
{
    const QString reason = record_file.error() == QFileDevice::NoError
                               ? QString("cannot sync to disk")
                               : record_file.errorString();
    return "error: cannot write record " + record_file.fileName() + ": " + reason;
}

bool fleet_report::dialling_stopped() const
{
    return interrupts_so_far() >= 1 || lost;
}

void fleet_report::line(const QString &text)
{
    const QMutexLocker lock(&mutex);
    write_error_line(text);
}

void fleet_report::finished(const sensor_record &record)
{
    const QMutexLocker lock(&mutex);
    records.append(record);
    write_error_line(result_line(record));
    if (!record_file.isOpen() || lost)
        return;
    if (!write_record(record_line(record, stamp) + "\n")) {
        lost = true;
        write_error_line(record_failure());
    }
}

bool fleet_report::summarise(const listed_in_summary &listed)
{
    const QMutexLocker lock(&mutex);
    write_error_line("\n" + summary_table(records, listed));
    if (lost)
        return false;
    const QVector<sensor_record::result_kind> good{sensor_record::upgraded, sensor_record::skipped,
                                                   sensor_record::current, sensor_record::found};
    for (const sensor_record &record : qAsConst(records))
        if (!good.contains(record.result))
            return false;
    return true;
}
