#ifndef REPLIES_H
#define REPLIES_H

#include <QByteArray>
#include <QString>

// Four dot-separated decimal numbers of 0 to 255, ASCII digits only.
bool is_valid_ipv4_text(const QString &text);

// The address such a text names, its four numbers read as decimal whatever their leading
// zeros (the system's resolver would read "010" as octal); 0 when the text is not valid.
quint32 ipv4_of(const QString &text);

// An acknowledgement read as a decimal number; anything else counts as 0.
int ack_value(const QByteArray &reply);

// A "version" reply is complete once it has at least 6 bytes, exactly two
// dots, and one byte after the last dot.
bool is_complete_version_reply(const QByteArray &reply);

// The unsigned little-endian length at the start of a log reply (4 bytes).
quint32 log_length(const QByteArray &header);

// A version is "x9.9.9": a lower-case letter and three digits between two dots.
const int lidar_version_length = 6;

// The latest "x9.9.9" in the log, searched backwards; the window at byte 0 is
// never tested. Empty when there is none.
QString find_lidar_version(const QByteArray &log);

// Where the latest version in the size bytes starts, at first or later; -1 when there is none.
qint64 latest_version_at(const char *bytes, qint64 size, qint64 first);

#endif
