#include "device/link_reset.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

void reset_link(QAbstractSocket &socket)
{
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor >= 0) {
        // Lingering for no time makes the close a reset.
#ifdef Q_OS_WIN
        const LINGER none{1, 0};
        setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&none),
                   sizeof none);
#else
        const linger none{1, 0};
        setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &none, sizeof none);
#endif
    }
    socket.abort();
}
