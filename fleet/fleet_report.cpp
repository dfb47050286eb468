#include "fleet/fleet_report.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QMutexLocker>

#include "app/console.h"

namespace
{

const char *const result_names[] = {"upgraded", "skipped", "failed",      "interrupted", "current",
                                    "outdated", "refused", "unreachable", "found"};
// The results that leave a sensor nothing more to do.
const QStringList done_results{"upgraded", "skipped", "current"};

QJsonObject file_object(const sent_file &file)
{
    return {{"name", file.name},
            {"bytes", double(file.bytes)},
            {"sha256", QString::fromLatin1(file.sha256.toHex())},
            {"seconds", file.seconds}};
}

qint64 bytes_sent(const sensor_record &record)
{
    qint64 bytes = 0;
    for (const sent_file &file : record.files)
        bytes += file.bytes;
    return bytes;
}

QString result_line(const sensor_record &record)
{
    QString text = record.address + ": " + result_names[record.result];
    if (!record.message.isEmpty())
        text += ": " + QString(record.message).replace("\r\n", " ").replace('\n', " / ");
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

} // namespace

QByteArray record_line(const sensor_record &record)
{
    QJsonArray files;
    for (const sent_file &file : record.files)
        files.append(file_object(file));
    const QJsonObject object{{"address", record.address},
                             {"old_version", record.old_version},
                             {"new_version", record.new_version},
                             {"result", result_names[record.result]},
                             {"message", record.message},
                             {"files", files},
                             {"started", record.started.toString(Qt::ISODate)},
                             {"seconds", record.seconds}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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
        const double rate = record.seconds > 0 ? bytes_sent(record) / record.seconds / 1e6 : 0;
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
    for (int number = 1; !file.atEnd(); ++number) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString address = object["address"].toString();
        if (address.isEmpty() || !object["result"].isString())
            return read_result<QStringList>::failed(
                QString("error: %1 line %2 is no record line!").arg(path).arg(number));
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

bool fleet_report::open_record(const QString &path)
{
    record_file.setFileName(path);
    return record_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
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
    if (record_file.isOpen()) {
        record_file.write(record_line(record) + "\n");
        record_file.flush();
    }
}

bool fleet_report::summarise(const listed_in_summary &listed)
{
    const QMutexLocker lock(&mutex);
    write_error_line("\n" + summary_table(records, listed));
    const QVector<sensor_record::result_kind> good{sensor_record::upgraded, sensor_record::skipped,
                                                   sensor_record::current, sensor_record::found};
    for (const sensor_record &record : qAsConst(records))
        if (!good.contains(record.result))
            return false;
    return true;
}
