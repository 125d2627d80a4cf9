#pragma once
// One thread for the whole process that fires the deadlines of the sessions'
// connects. A host lookup cannot be interrupted, so the limit of a connect
// (lookup and connect together) is kept by a thread that never does one,
// whether the connect is in its lookup, connecting or still queued. The
// thread runs while a deadline is pending and ends when none is.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

class DeadlineWatcher {
public:
    using Action = std::function<void()>;

    // The process's watcher; never destroyed, as its thread is detached.
    static DeadlineWatcher& Shared();

    // Runs the action on the watcher's thread once `ms` have passed, unless
    // it is withdrawn first. Returns its id, or 0 when no thread could be
    // started (the action will never run).
    uint64_t Add(int ms, Action action);
    // Drops the action if it has not started; it may be running already.
    void Withdraw(uint64_t id);

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point m_When;
        Action m_Action;
    };

    DeadlineWatcher() = default;
    void Watch();

    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::map<uint64_t, Pending> m_Pending;  // few: one per connecting session
    uint64_t m_LastId = 0;
    bool m_bRunning = false;  // the thread is there, or about to end
};
