#ifndef LINK_THREADS_H
#define LINK_THREADS_H

#include <QThread>
#include <functional>
#include <memory>
#include <vector>

// A fixed number of threads with event loops that many links share: a link lives on one of them
// and its waits are the socket's signals and timers there, so a thread serves any number of
// links. Work is given to the threads in turn. The threads end when this ends.
class link_threads
{
public:
    // Twice as many as the cores, at least four.
    link_threads();
    ~link_threads();
    link_threads(const link_threads &) = delete;
    link_threads &operator=(const link_threads &) = delete;

    // The thread the next link goes to.
    QThread *next();
    // Runs work on the thread's event loop.
    static void post(QThread *thread, std::function<void()> work);
    // Runs work on the thread and returns once it ran.
    static void run_and_wait(QThread *thread, std::function<void()> work);

private:
    std::vector<std::unique_ptr<QThread>> threads;
    size_t turn = 0;
};

// Runs work after the current event on the calling thread's event loop, in the order asked: a
// link's next step, or the end of an object that may not end inside its own event. On a link
// thread it runs before the thread ends.
void later(std::function<void()> work);

// Calls look about every 100 ms on the calling thread's event loop while it lives: one timer a
// thread, however many links look at their stop there. Made and ended on that thread.
class stop_look
{
public:
    explicit stop_look(std::function<void()> look);
    ~stop_look();
    stop_look(const stop_look &) = delete;
    stop_look &operator=(const stop_look &) = delete;

    struct entry;

private:
    const std::shared_ptr<entry> registered;
};

#endif
