#ifndef RATE_CAP_H
#define RATE_CAP_H

#include <QElapsedTimer>
#include <QMutex>

// A cap on the bytes a second that all images of a run send together. Each write reserves its
// time in the order asked, so the images streaming share the rate fairly; a writer that was
// idle may send a short burst at once. Thread-safe.
class rate_cap
{
public:
    explicit rate_cap(qint64 bytes_per_second);
    // Reserves the time to send bytes: the milliseconds to wait before sending them.
    qint64 reserve(qint64 bytes);

private:
    QMutex mutex;
    QElapsedTimer clock;
    const qint64 rate;
    double next_free_ms = 0;
};

#endif
