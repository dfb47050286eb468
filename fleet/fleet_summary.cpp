#include "fleet/fleet_summary.h"

#include <QMap>
#include <QStringList>
#include <algorithm>

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

QString versions(const sensor_record &record)
{
    return record.new_version.isEmpty() ? record.old_version
                                        : record.old_version + " -> " + record.new_version;
}

} // namespace

QString result_counts(const QVector<sensor_record> &records)
{
    QMap<record_result, int> counts;
    for (const sensor_record &record : records)
        ++counts[result_of(record)];
    const int empty = counts.take(record_result::empty);
    QStringList parts;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count)
        parts << QString("%1 %2").arg(count.value()).arg(result_name(count.key()));
    QString line = QString("%1 sensors").arg(records.size() - empty);
    if (!parts.isEmpty())
        line += ": " + parts.join(", ");
    return empty ? line + QString::fromUtf8(" \u00b7 %1 empty addresses").arg(empty) : line;
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
        const record_result result = result_of(record);
        if (result == record_result::empty)
            continue;
        const double rate = streaming_rate(record);
        table += QString("%1 %2 %3 %4 %5\n")
                     .arg(record.address, -15)
                     .arg(versions(record), -20)
                     .arg(result_name(result), -11)
                     .arg(record.seconds, 8, 'f', 1)
                     .arg(rate, 7, 'f', 2);
    }
    return table + result_counts(records);
}

bool all_done(const QVector<sensor_record> &records)
{
    const QVector<record_result> good{record_result::upgraded, record_result::skipped,
                                      record_result::current, record_result::found,
                                      record_result::empty};
    const auto well = [&](const sensor_record &record) { return good.contains(result_of(record)); };
    const auto empty = [](const sensor_record &record) {
        return result_of(record) == record_result::empty;
    };
    // Empty addresses are no sensors: a run that found none proves nothing.
    return std::all_of(records.cbegin(), records.cend(), well) &&
           !std::all_of(records.cbegin(), records.cend(), empty);
}
