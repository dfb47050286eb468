#include "fleet/disk_sync.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

bool sync_to_disk(QFile &file)
{
    const int descriptor = file.handle();
    if (descriptor < 0)
        return false;
#ifdef Q_OS_WIN
    const intptr_t handle = _get_osfhandle(descriptor);
    return handle != -1 && FlushFileBuffers(HANDLE(handle));
#else
    // A pipe or a terminal has no disk to reach.
    return fsync(descriptor) == 0 || errno == EINVAL;
#endif
}
