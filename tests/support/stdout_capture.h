#ifndef STDOUT_CAPTURE_H
#define STDOUT_CAPTURE_H

#include <QByteArray>
#include <QTemporaryFile>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

// Everything written to standard output, and with_stderr standard error too (as "2>&1"),
// while it lives, byte for byte, readable once with take().
class stdout_capture
{
public:
    explicit stdout_capture(bool with_stderr = false) : last_fd(with_stderr ? 2 : 1)
    {
        file.open();
        fflush(nullptr);
        for (int fd = 1; fd <= last_fd; ++fd) {
            saved[fd] = dup(fd);
            dup2(file.handle(), fd);
#ifdef _WIN32
            // The bytes the program writes, without the C runtime's "\n" to "\r\n" turn.
            saved_mode[fd] = _setmode(fd, _O_BINARY);
#endif
        }
    }
    ~stdout_capture()
    {
        restore();
    }
    QByteArray take()
    {
        restore();
        file.seek(0);
        return file.readAll();
    }

private:
    void restore()
    {
        if (saved[1] < 0)
            return;
        fflush(nullptr);
        for (int fd = 1; fd <= last_fd; ++fd) {
#ifdef _WIN32
            _setmode(fd, saved_mode[fd]);
#endif
            dup2(saved[fd], fd);
            close(saved[fd]);
            saved[fd] = -1;
        }
    }
    QTemporaryFile file;
    const int last_fd;
    int saved[3] = {-1, -1, -1};
    [[maybe_unused]] int saved_mode[3] = {};
};

#endif
