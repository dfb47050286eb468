#include "upgrade/rate_cap.h"

#include <QMutexLocker>
#include <QtGlobal>

namespace
{

// How far a writer may run ahead of the rate after a pause: a small burst.
const double burst_ms = 20;

} // namespace

rate_cap::rate_cap(qint64 bytes_per_second) : rate(qMax<qint64>(1, bytes_per_second))
{
    clock.start();
}

qint64 rate_cap::reserve(qint64 bytes)
{
    const QMutexLocker lock(&mutex);
    const double now = double(clock.nsecsElapsed()) / 1e6;
    const double start = qMax(next_free_ms, now - burst_ms);
    next_free_ms = start + double(bytes) * 1000 / double(rate);
    return qMax<qint64>(0, qint64(start - now));
}
