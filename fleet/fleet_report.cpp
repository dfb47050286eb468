#include "fleet/fleet_report.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QMutexLocker>
#include <QThreadPool>
#include <algorithm>

#include "base/console.h"
#include "device/replies.h"
#include "fleet/disk_sync.h"
#include "fleet/interrupts.h"

namespace
{

// How often a run's end is looked for between looks at the interrupts.
const int interrupt_look_ms = 100;

const char *const result_names[] = {"upgraded", "skipped",     "failed",  "interrupted",
                                    "current",  "outdated",    "refused", "unreachable",
                                    "found",    "not_started", "empty"};
// The results that leave nothing more to do; an empty address never had anything to do.
const QStringList done_results{"upgraded", "skipped", "current", "empty"};

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

// "6 sensors: 2 current, 1 outdated, 3 unreachable · 234 empty addresses": empty addresses
// are no sensors.
QString result_counts(const QVector<sensor_record> &records)
{
    QMap<int, int> counts;
    for (const sensor_record &record : records)
        ++counts[record.result];
    const int empty = counts.take(sensor_record::empty);
    QStringList parts;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count)
        parts << QString("%1 %2").arg(count.value()).arg(result_names[count.key()]);
    QString line = QString("%1 sensors").arg(records.size() - empty);
    if (!parts.isEmpty())
        line += ": " + parts.join(", ");
    return empty ? line + QString::fromUtf8(" \u00b7 %1 empty addresses").arg(empty) : line;
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

QString summary_table(const QVector<sensor_record> &records)
{
    QString table = QString("%1 %2 %3 %4 %5\n")
                        .arg("address", -15)
                        .arg("old -> new", -20)
                        .arg("result", -11)
                        .arg("seconds", 8)
                        .arg("MB/s", 7);
    for (const sensor_record &record : records) {
        if (record.result == sensor_record::empty)
            continue;
        const double rate = streaming_rate(record);
        table += QString("%1 %2 %3 %4 %5\n")
                     .arg(record.address, -15)
                     .arg(versions(record), -20)
                     .arg(result_names[record.result], -11)
                     .arg(record.seconds, 8, 'f', 1)
                     .arg(rate, 7, 'f', 2);
    }
    return table + result_counts(records);
}

read_result<QVector<listed_address>> sensors_to_retry(const QStringList &paths)
{
    QVector<listed_address> order;
    QHash<quint32, QString> latest;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return read_result<QVector<listed_address>>::failed("error: cannot read record " +
                                                                path + "!");
        int number = 0, unreadable = 0;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            ++number;
            QJsonParseError parsed{};
            const QJsonObject object = QJsonDocument::fromJson(line, &parsed).object();
            unreadable += parsed.error != QJsonParseError::NoError && !line.trimmed().isEmpty();
            const QString address = object["address"].toString();
            if (address.isEmpty() || !object["result"].isString())
                continue;
            // Lines belong to a sensor by its four numbers, however they spell it; an address
            // that is none is left for the caller to refuse, with its place.
            const bool valid = is_valid_ipv4_text(address);
            if (!valid || !latest.contains(ipv4_of(address)))
                order.append({address, QString("%1:%2").arg(path).arg(number)});
            if (valid)
                latest[ipv4_of(address)] = object["result"].toString();
        }
        if (unreadable > 0)
            write_error_line(QString("note: %1: %2 lines that are not JSON passed over")
                                 .arg(path)
                                 .arg(unreadable));
    }
    QVector<listed_address> left;
    for (const listed_address &address : qAsConst(order))
        if (!is_valid_ipv4_text(address.text) ||
            !done_results.contains(latest[ipv4_of(address.text)]))
            left << address;
    return read_result<QVector<listed_address>>::ok(left);
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

bool fleet_report::summarise()
{
    const QMutexLocker lock(&mutex);
    write_error_line("\n" + summary_table(records));
    if (lost)
        return false;
    const QVector<sensor_record::result_kind> good{sensor_record::upgraded, sensor_record::skipped,
                                                   sensor_record::current, sensor_record::found,
                                                   sensor_record::empty};
    const auto well = [&](const sensor_record &record) { return good.contains(record.result); };
    const auto empty = [](const sensor_record &record) {
        return record.result == sensor_record::empty;
    };
    // Empty addresses are no sensors: a run that found none proves nothing.
    return std::all_of(records.cbegin(), records.cend(), well) &&
           !std::all_of(records.cbegin(), records.cend(), empty);
}

void fleet_report::await(QThreadPool &pool, const std::function<QString()> &finishing)
{
    // The last look after the end: an interrupt that ended the run is told too.
    for (bool done = false; !done;) {
        done = pool.waitForDone(interrupt_look_ms);
        const int interrupts = qMin(2, interrupts_so_far());
        if (interrupts == interrupts_told)
            continue;
        interrupts_told = interrupts;
        const QString running = interrupts == 1 ? finishing() : QString();
        if (interrupts >= 2)
            line("stopping: the running sensors stop now, their links reset");
        else if (running.isEmpty())
            line("stopping: no new sensor is dialled");
        else
            line("stopping: no new sensor is dialled; " + running +
                 " will finish; Ctrl+C again stops them");
    }
}
