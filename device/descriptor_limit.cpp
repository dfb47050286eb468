#include "device/descriptor_limit.h"

#include <QtGlobal>
#include <limits>

#ifdef Q_OS_WIN
#include <cstdio>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace
{

const int descriptors_per_stream = 6;
const int descriptors_per_link = 2;
// Standard streams, the record, the main thread's, the link threads' and Qt's own.
const int descriptors_reserved = 64;

int bounded(qint64 count)
{
    return int(qBound<qint64>(1, count, std::numeric_limits<int>::max()));
}

} // namespace

qint64 raise_descriptor_limit()
{
#ifdef Q_OS_WIN
    // Sockets and Qt's files are handles without a limit; only the C library's streams have
    // one, 512 unless raised, and a streaming link holds one of them (the decrypting reader).
    _setmaxstdio(8192);
    return qint64(_getmaxstdio() - descriptors_reserved) * descriptors_per_stream;
#else
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return descriptors_per_stream;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<int>::max();
    return qMax<qint64>(descriptors_per_stream, qint64(limit.rlim_cur) - descriptors_reserved);
#endif
}

int streams_within(qint64 descriptors)
{
    return bounded(descriptors / descriptors_per_stream);
}

int links_within(qint64 descriptors, int streaming)
{
#ifdef Q_OS_WIN
    Q_UNUSED(descriptors)
    // Sockets are handles without a limit.
    return std::numeric_limits<int>::max();
#else
    const qint64 left = descriptors - qint64(streaming) * descriptors_per_stream;
    return qMax(streaming, int(qBound<qint64>(0, streaming + left / descriptors_per_link,
                                              std::numeric_limits<int>::max())));
#endif
}

bool out_of_descriptors()
{
#ifdef Q_OS_WIN
    return false;
#else
    const int descriptor = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0) {
        close(descriptor);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
#endif
}

QString descriptor_shortage(const QString &what)
{
    return "error: too many open files, cannot open " + what + "!";
}
