#include "device/replies.h"

#include <QStringList>

namespace
{

bool is_ascii_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_octet(const QString &part)
{
    if (part.isEmpty())
        return false;
    for (QChar c : part)
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    // Leading zeros are fine, however many; the value alone must fit.
    int first = 0;
    while (first < part.size() - 1 && part[first] == '0')
        ++first;
    const QString value = part.mid(first);
    return value.size() <= 3 && value.toInt() <= 255;
}

bool is_version_at(const char *p)
{
    return p[0] >= 'a' && p[0] <= 'z' && is_ascii_digit(p[1]) && p[2] == '.' &&
           is_ascii_digit(p[3]) && p[4] == '.' && is_ascii_digit(p[5]);
}

} // namespace

bool is_valid_ipv4_text(const QString &text)
{
    const QStringList parts = text.split('.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts)
        if (!is_octet(part))
            return false;
    return true;
}

quint32 ipv4_of(const QString &text)
{
    if (!is_valid_ipv4_text(text))
        return 0;
    quint32 address = 0;
    for (const QString &part : text.split('.'))
        address = address << 8 | part.toUInt(nullptr, 10);
    return address;
}

int ack_value(const QByteArray &reply)
{
    return reply.toInt(nullptr, 10);
}

bool is_complete_version_reply(const QByteArray &reply)
{
    return reply.size() >= lidar_version_length && reply.count('.') == 2 &&
           reply.lastIndexOf('.') == reply.size() - 2;
}

quint32 log_length(const QByteArray &header)
{
    quint32 length = 0;
    for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<unsigned char>(header.at(i));
    return length;
}

qint64 latest_version_at(const char *bytes, qint64 size, qint64 first)
{
    // A version's third byte is a dot: only there is the rest worth testing.
    for (qint64 dot = size - lidar_version_length + 2; dot >= first + 2; --dot)
        if (bytes[dot] == '.' && is_version_at(bytes + dot - 2))
            return dot - 2;
    return -1;
}

QString find_lidar_version(const QByteArray &log)
{
    const qint64 at = latest_version_at(log.constData(), log.size(), 1);
    return at < 0 ? QString() : QString::fromLatin1(log.constData() + at, lidar_version_length);
}
