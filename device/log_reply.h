#ifndef LOG_REPLY_H
#define LOG_REPLY_H

#include <QByteArray>
#include <QString>

// The latest version in a log that arrives in pieces, found as the pieces come: only a short
// tail of the log is kept, never the log itself. The window at the log's byte 0 is never tested.
class version_scan
{
public:
    void feed(const char *piece, qint64 size);
    qint64 size() const { return scanned; }
    QString version() const { return found; }
    // Where the version found starts; -1 when there is none.
    qint64 position() const { return found_at; }

private:
    QByteArray tail; // the log's last bytes, a window short of a version
    qint64 scanned = 0;
    QString found;
    qint64 found_at = -1;
};

// The reply to "readlog" as its waits bring it: the 4-byte length, then the payload, scanned
// for the version. One wait more is wanted after the header even when the payload is already
// whole; a length over the limit is refused at once.
class log_reply
{
public:
    // What one wait brought, possibly nothing.
    void take(const QByteArray &bytes);
    // Bytes of the current wait, in as many pieces as wanted; then the wait's end.
    void feed(const char *bytes, qint64 size);
    void wait_ended();
    bool wants_more() const;
    // Once no further wait comes: the version, or empty, with the debug line that says why.
    QString version() const;

private:
    QByteArray header;
    bool has_length = false;
    quint32 length = 0;
    bool had_length = false; // when the current wait began
    int waits_after_header = 0;
    version_scan payload;
};

#endif
