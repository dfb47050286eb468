#ifdef _WIN32
// The TCP state query came with Windows 10 1703; the tool needs 1903 anyway.
#undef _WIN32_WINNT
#undef NTDDI_VERSION
#define _WIN32_WINNT 0x0A00
#define NTDDI_VERSION 0x0A000003
#endif

#include "device/send_queue.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
// After winsock2.h, which declares what it uses.
#include <mstcpip.h>
#else
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#endif

void limit_send_queue(QAbstractSocket &socket)
{
#ifdef Q_OS_WIN
    // Windows tells only what is in flight, if anything (not before Windows 10 1703, nor under
    // wine): what waits unsent is kept to what any link drains well within one reply wait. Qt
    // leaves a Windows socket's send buffer to the system's own sizing; asked directly, the
    // system takes the size.
    const int size = 4 * 1024;
    setsockopt(SOCKET(socket.socketDescriptor()), SOL_SOCKET, SO_SNDBUF,
               reinterpret_cast<const char *>(&size), sizeof size);
#else
    // Linux tells exactly what the sensor has not taken, so the queue may keep a fast link busy.
    socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 128 * 1024);
#endif
}

qint64 bytes_not_taken(const QAbstractSocket &socket)
{
    if (socket.socketDescriptor() < 0)
        return -1;
#ifdef Q_OS_WIN
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD returned = 0;
    if (WSAIoctl(SOCKET(socket.socketDescriptor()), SIO_TCP_INFO, &version, sizeof version, &info,
                 sizeof info, &returned, nullptr, nullptr) != 0)
        return 0;
    if (info.State != TCPSTATE_ESTABLISHED)
        return -1;
    return info.BytesInFlight;
#else
    const int descriptor = int(socket.socketDescriptor());
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
        info.tcpi_state != TCP_ESTABLISHED)
        return -1;
    int queued = 0;
    if (ioctl(descriptor, SIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
#endif
}
