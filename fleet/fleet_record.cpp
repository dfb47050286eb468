#include "fleet/fleet_record.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "device/replies.h"
#include "fleet/disk_sync.h"

namespace
{

// The results that leave nothing more to do; an empty address never had anything to do.
const QStringList done_results{
    result_name(record_result::upgraded), result_name(record_result::skipped),
    result_name(record_result::current), result_name(record_result::empty)};

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

// Whether the file ends in the middle of a line, cut by an earlier run's crash. Only a plain
// file is looked at: opening a pipe to read could wait for ever.
bool ends_mid_line(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) && file.size() > 0 &&
           file.seek(file.size() - 1) && !file.read(1).endsWith('\n');
}

} // namespace

QByteArray record_line(const sensor_record &record, const package_stamp &stamp)
{
    QByteArrayList files;
    for (const sent_file &file : record.files)
        files << file_object(file);
    const QJsonValue detail = record.result.detail.isEmpty() ? QJsonValue() : record.result.detail;
    const QJsonValue verified =
        record.verified_version.isEmpty() ? QJsonValue() : record.verified_version;
    return ordered_object({{"address", json_text(record.address)},
                           {"old_version", json_text(record.old_version)},
                           {"new_version", json_text(record.new_version)},
                           {"verified_version", json_text(verified)},
                           {"result", json_text(result_name(result_of(record)))},
                           {"message", json_text(record.result.message())},
                           {"detail", json_text(detail)},
                           {"files", '[' + files.join(',') + ']'},
                           {"started", json_text(record.started.toString(Qt::ISODate))},
                           {"seconds", json_text(record.seconds)},
                           {"package", json_text(text_or_null(stamp.package))},
                           {"signed_by", json_text(text_or_null(stamp.signed_by))},
                           {"tool", json_text(CORVALEN_VERSION)}});
}

read_result<retry_list> sensors_to_retry(const QStringList &paths)
{
    QVector<listed_address> order;
    QStringList notes;
    QHash<quint32, QString> latest;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            // After the notes of the records read so far.
            return read_result<retry_list>::failed(
                (notes + QStringList("error: cannot read record " + path + "!")).join('\n'));
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
            notes << QString("note: %1: %2 lines that are not JSON passed over")
                         .arg(path)
                         .arg(unreadable);
    }
    QVector<listed_address> left;
    for (const listed_address &address : qAsConst(order))
        if (!is_valid_ipv4_text(address.text) ||
            !done_results.contains(latest[ipv4_of(address.text)]))
            left << address;
    return read_result<retry_list>::ok({left, notes});
}

QString record_writer::open(const QString &path)
{
    const bool fresh_line = ends_mid_line(path);
    file.setFileName(path);
    // Unbuffered: each line reaches the system in one write whose outcome is known at once.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                   QIODevice::Unbuffered) ||
        (fresh_line && !write_bytes("\n")))
        return failure();
    return {};
}

QString record_writer::write(const sensor_record &record)
{
    if (!file.isOpen() || lost)
        return {};
    if (write_bytes(record_line(record, stamp) + "\n"))
        return {};
    lost = true;
    return failure();
}

bool record_writer::write_bytes(const QByteArray &bytes)
{
    return file.write(bytes) == bytes.size() && sync_to_disk(file);
}

QString record_writer::failure() const
{
    const QString reason =
        file.error() == QFileDevice::NoError ? QString("cannot sync to disk") : file.errorString();
    return "error: cannot write record " + file.fileName() + ": " + reason;
}
