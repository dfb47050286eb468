#include "device/log_reply.h"

#include <QtDebug>

#include "device/replies.h"

namespace
{

const int log_header_size = 4;
// No sensor log comes near this; a larger length is a broken reply, not waited for.
const quint32 max_log_size = 64u << 20;

} // namespace

void version_scan::feed(const QByteArray &piece)
{
    if (piece.isEmpty())
        return;
    const QByteArray window = tail + piece;
    const qint64 window_at = scanned - tail.size();
    // The latest match of the window is the latest so far, unless it lies at the log's byte 0.
    const int at = latest_version_at(window, window_at == 0 ? 1 : 0);
    if (at >= 0) {
        found = QString::fromLatin1(window.constData() + at, lidar_version_length);
        found_at = window_at + at;
    }
    scanned += piece.size();
    tail = window.right(lidar_version_length - 1);
}

void log_reply::take(const QByteArray &bytes)
{
    if (has_length) {
        ++waits_after_header;
        payload.feed(bytes);
        return;
    }
    header += bytes;
    if (header.size() < log_header_size)
        return;
    has_length = true;
    length = log_length(header);
    payload.feed(header.mid(log_header_size));
    header.clear();
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
