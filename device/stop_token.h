#ifndef STOP_TOKEN_H
#define STOP_TOKEN_H

#include <atomic>

// Tells a run's waits to give up: cheap to copy and read from any thread. It fires once one of
// the flags it watches (one or two, which outlive it) is set. A default token watches none and
// never fires.
class stop_token
{
public:
    stop_token() = default;
    explicit stop_token(const std::atomic<bool> &flag) : flags{&flag, nullptr} {}
    stop_token(const std::atomic<bool> &flag, const std::atomic<bool> &other) : flags{&flag, &other}
    {
    }

    bool stop_requested() const
    {
        for (const std::atomic<bool> *flag : flags)
            if (flag && *flag)
                return true;
        return false;
    }

    // Whether it may fire at all: a wait on a token that never fires is one plain wait.
    bool may_fire() const { return flags[0] != nullptr; }

private:
    const std::atomic<bool> *flags[2] = {nullptr, nullptr};
};

#endif
