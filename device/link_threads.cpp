#include "device/link_threads.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSemaphore>
#include <QThreadStorage>
#include <QTimer>
#include <algorithm>

namespace
{

const QEvent::Type work_event = QEvent::Type(QEvent::User + 34);

struct posted_work : QEvent {
    explicit posted_work(std::function<void()> work) : QEvent(work_event), work(std::move(work)) {}
    std::function<void()> work;
};

// Lives on a link thread and runs the work posted to it there.
class work_runner : public QObject
{
public:
    bool event(QEvent *event) override
    {
        if (event->type() != work_event)
            return QObject::event(event);
        static_cast<posted_work *>(event)->work();
        return true;
    }
};

// One runner per thread, made on the thread itself, so that it lives there.
class runner_thread : public QThread
{
public:
    runner_thread() : runner(new work_runner) { runner->moveToThread(this); }
    ~runner_thread() override
    {
        link_threads::post(this, [this] { quit(); });
        wait();
    }
    const std::unique_ptr<work_runner> runner;
};

const int look_ms = 100;

} // namespace

struct stop_look::entry {
    std::function<void()> look;
    bool active = true;
};

namespace
{

// The looks of one thread, and its one timer.
struct thread_looks {
    std::vector<std::shared_ptr<stop_look::entry>> entries;
    std::unique_ptr<QTimer> timer;

    void tick()
    {
        // A look may end looks, its own too: the ended ones go after the round.
        const std::vector<std::shared_ptr<stop_look::entry>> round = entries;
        for (const auto &each : round)
            if (each->active)
                each->look();
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [](const auto &each) { return !each->active; }),
                      entries.end());
        if (entries.empty())
            timer->stop();
    }
};

// Qt's own thread storage, not thread_local: the thread_local's end at exit deadlocked with the
// thread keys of the Windows threads library.
QThreadStorage<thread_looks *> looks_of_threads;

thread_looks &looks()
{
    if (!looks_of_threads.hasLocalData())
        looks_of_threads.setLocalData(new thread_looks);
    return *looks_of_threads.localData();
}

} // namespace

stop_look::stop_look(std::function<void()> look) : registered(new entry{std::move(look)})
{
    thread_looks &mine = looks();
    mine.entries.push_back(registered);
    if (!mine.timer) {
        mine.timer.reset(new QTimer);
        QObject::connect(mine.timer.get(), &QTimer::timeout, [] { looks().tick(); });
    }
    if (!mine.timer->isActive())
        mine.timer->start(look_ms);
}

stop_look::~stop_look()
{
    registered->active = false;
}

link_threads::link_threads()
{
    for (int i = 0; i < qMax(4, 2 * QThread::idealThreadCount()); ++i) {
        threads.emplace_back(new runner_thread);
        threads.back()->start();
    }
}

link_threads::~link_threads() = default;

QThread *link_threads::next()
{
    QThread *thread = threads[turn].get();
    turn = (turn + 1) % threads.size();
    return thread;
}

void link_threads::post(QThread *thread, std::function<void()> work)
{
    QCoreApplication::postEvent(static_cast<runner_thread *>(thread)->runner.get(),
                                new posted_work(std::move(work)));
}

void link_threads::run_and_wait(QThread *thread, std::function<void()> work)
{
    QSemaphore ran;
    post(thread, [&] {
        work();
        ran.release();
    });
    ran.acquire();
}

void later(std::function<void()> work)
{
    if (auto *thread = dynamic_cast<runner_thread *>(QThread::currentThread()))
        link_threads::post(thread, std::move(work));
    else
        QTimer::singleShot(0, std::move(work));
}
