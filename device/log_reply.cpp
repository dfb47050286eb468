#include "device/log_reply.h"

#include <QtDebug>

#include "device/replies.h"

namespace
{

const int log_header_size = 4;
// No sensor log comes near this; a larger length is a broken reply, not waited for.
const quint32 max_log_size = 64u << 20;

} // namespace

void version_scan::feed(const char *piece, qint64 size)
{
    if (size <= 0)
        return;
    // The latest match starts in the piece, or else across the join with what came before.
    qint64 at = latest_version_at(piece, size, scanned == 0 ? 1 : 0);
    if (at >= 0) {
        found = QString::fromLatin1(piece + at, lidar_version_length);
        found_at = scanned + at;
    } else {
        const QByteArray join =
            tail +
            QByteArray::fromRawData(piece, int(qMin<qint64>(size, lidar_version_length - 1)));
        const qint64 join_at = scanned - tail.size();
        at = latest_version_at(join.constData(), join.size(), join_at == 0 ? 1 : 0);
        if (at >= 0 && at < tail.size()) {
            found = QString::fromLatin1(join.constData() + at, lidar_version_length);
            found_at = join_at + at;
        }
    }
    tail = (tail + QByteArray::fromRawData(piece + qMax<qint64>(0, size - lidar_version_length + 1),
                                           int(qMin<qint64>(size, lidar_version_length - 1))))
               .right(lidar_version_length - 1);
    scanned += size;
}

void log_reply::take(const QByteArray &bytes)
{
    feed(bytes.constData(), bytes.size());
    wait_ended();
}

void log_reply::feed(const char *bytes, qint64 size)
{
    if (has_length) {
        payload.feed(bytes, size);
        return;
    }
    const qint64 wanted = qMin<qint64>(size, log_header_size - header.size());
    header.append(bytes, int(wanted));
    if (header.size() < log_header_size)
        return;
    has_length = true;
    length = log_length(header);
    payload.feed(bytes + wanted, size - wanted);
}

void log_reply::wait_ended()
{
    waits_after_header += had_length;
    had_length = has_length;
}

bool log_reply::wants_more() const
{
    if (!has_length)
        return true;
    return length <= max_log_size && (waits_after_header == 0 || payload.size() < length);
}

QString log_reply::version() const
{
    if (!has_length) {
        qDebug() << "no log header" << header.size();
        return {};
    }
    if (length > max_log_size) {
        qDebug() << "log length" << length << "refused";
        return {};
    }
    // A log cut short by a silent or lost sensor is no answer.
    if (payload.size() < length) {
        qDebug() << "log incomplete" << payload.size() << "of" << length;
        return {};
    }
    if (payload.version().isEmpty()) {
        qDebug() << "not found version";
        return {};
    }
    qDebug() << "log size" << payload.size() << "version at" << payload.position()
             << payload.version();
    return payload.version();
}
