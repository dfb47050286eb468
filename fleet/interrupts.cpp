#include "fleet/interrupts.h"

#include <QtGlobal>
#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{

std::atomic<int> interrupts{0};
std::atomic<bool> dialling_stop{false};
std::atomic<bool> links_stop{false};
std::atomic<bool> handled{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

// Counts an interrupt worth count, and sets the stops it reaches.
void count(int count)
{
    const int so_far = interrupts += count;
    dialling_stop = true;
    if (so_far >= 2)
        links_stop = true;
}

#ifdef Q_OS_WIN
// Runs in a thread of the system's own; the process ends when it returns from a close, a
// logoff or a shutdown.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
        count(1);
        return TRUE;
    }
    count(2);
    // The system allows about five seconds before it ends the process.
    for (int waited = 0; !handled && waited < 4500; waited += 50)
        Sleep(50);
    return TRUE;
}
#else
// A hang-up or a request to terminate leaves no time to let the running links finish.
void on_signal(int number)
{
    count(number == SIGINT ? 1 : 2);
}
#endif

} // namespace

void count_interrupts()
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    for (const int number : {SIGINT, SIGTERM})
        std::signal(number, on_signal);
    // Started under nohup, the run is meant to outlive the session.
    if (std::signal(SIGHUP, on_signal) == SIG_IGN)
        std::signal(SIGHUP, SIG_IGN);
#endif
}

int interrupts_so_far()
{
    return interrupts;
}

const std::atomic<bool> &dialling_interrupted()
{
    return dialling_stop;
}

const std::atomic<bool> &links_interrupted()
{
    return links_stop;
}

void interrupts_handled()
{
    handled = true;
}
