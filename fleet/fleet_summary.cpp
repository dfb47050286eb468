#include "fleet/fleet_summary.h"

#include <QMap>
#include <QStringList>
#include <algorithm>

#include "fleet/fleet_record.h"

namespace
{

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
        parts << QString("%1 %2")
                     .arg(count.value())
                     .arg(result_name(sensor_record::result_kind(count.key())));
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

} // namespace

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
                     .arg(result_name(record.result), -11)
                     .arg(record.seconds, 8, 'f', 1)
                     .arg(rate, 7, 'f', 2);
    }
    return table + result_counts(records);
}

bool all_done(const QVector<sensor_record> &records)
{
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
