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

// Everything written to standard output while it lives, byte for byte,
// readable once with take().
class stdout_capture
{
public:
    stdout_capture()
    {
        file.open();
        fflush(stdout);
        saved = dup(1);
        dup2(file.handle(), 1);
#ifdef _WIN32
        // The bytes the program writes, without the C runtime's "\n" to "\r\n" turn.
        saved_mode = _setmode(1, _O_BINARY);
#endif
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
        if (saved < 0)
            return;
        fflush(stdout);
#ifdef _WIN32
        _setmode(1, saved_mode);
#endif
        dup2(saved, 1);
        close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
    [[maybe_unused]] int saved_mode = 0;
};

#endif
