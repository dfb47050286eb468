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

// A link's socket, its thread's wake-up, the package file, its decrypting reader and the
// padding-count file, with one to spare.
const int descriptors_per_link = 6;
// Standard streams, the record, the main thread's and Qt's own.
const int descriptors_reserved = 64;

#ifndef Q_OS_WIN
int links_within(qint64 descriptors)
{
    const qint64 links = (descriptors - descriptors_reserved) / descriptors_per_link;
    return int(qBound<qint64>(1, links, std::numeric_limits<int>::max()));
}
#endif

} // namespace

int raise_descriptor_limit()
{
#ifdef Q_OS_WIN
    // Sockets and Qt's files are handles without a limit; only the C library's streams have
    // one, 512 unless raised, and a link holds one of them (the decrypting reader).
    _setmaxstdio(8192);
    return qMax(1, _getmaxstdio() - descriptors_reserved);
#else
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return links_within(descriptors_reserved + descriptors_per_link);
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<int>::max()
                                           : links_within(qint64(limit.rlim_cur));
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
