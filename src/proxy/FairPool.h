#pragma once
// Threads for blocking work of clients (host lookups, password checks), taken
// in fair shares per client key (FairQueue). Work has a deadline, counted
// from the request: the waiting session is told "too late" when it passes,
// whether the work was still queued or running; work still queued then is
// skipped.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Asio.h"
#include "FairQueue.h"

class FairPool {
public:
    // `perClient`: how many jobs of one client key may run at once.
    FairPool(unsigned threads, size_t perClient);
    ~FairPool();
    FairPool(const FairPool&) = delete;
    FairPool& operator=(const FairPool&) = delete;

    // Nothing when the deadline passed first. Runs on the caller's executor.
    // `ahead` as for FairQueue::Push.
    template <class Result>
    awaitable<std::optional<Result>> Run(Address16 client, Clock::time_point deadline,
                                         std::function<Result()> work, bool ahead = false);
    void Post(const Address16& client, FairQueue::Job job, bool ahead = false);
    // Drops what is queued; jobs already running finish on their own. Waits
    // at most `limit` for them (false when they are still running).
    bool Stop(std::chrono::milliseconds limit);

private:
    // What the session and the worker share; whichever is last frees it.
    template <class Result>
    struct Waiting {
        explicit Waiting(const asio::any_io_executor& executor) : m_Timer(executor) {}
        asio::steady_timer m_Timer;
        std::mutex m_Mutex;
        std::optional<Result> m_Result;  // under the mutex
        std::atomic<bool> m_bAbandoned{false};
    };

    void Work();

    std::mutex m_Mutex;
    std::condition_variable m_Wake;   // a job may be taken, or the pool stops
    std::condition_variable m_Ended;  // a job ended
    FairQueue m_Queue;                // under the mutex, as the two below
    size_t m_Running = 0;
    bool m_bStopping = false;
    std::vector<std::thread> m_Threads;
};

template <class Result>
awaitable<std::optional<Result>> FairPool::Run(Address16 client, Clock::time_point deadline,
                                               std::function<Result()> work, bool ahead) {
    auto waiting = std::make_shared<Waiting<Result>>(co_await asio::this_coro::executor);
    waiting->m_Timer.expires_at(deadline);
    Post(
        client,
        [waiting, work = std::move(work)] {
            if (waiting->m_bAbandoned.load()) return;
            Result result = work();
            {
                std::lock_guard lock(waiting->m_Mutex);
                waiting->m_Result = std::move(result);
            }
            // The timer belongs to the session's thread: wake it there.
            asio::post(waiting->m_Timer.get_executor(), [waiting] { waiting->m_Timer.cancel(); });
        },
        ahead);
    std::error_code ignored;
    co_await waiting->m_Timer.async_wait(NoThrow(ignored));
    waiting->m_bAbandoned = true;
    std::lock_guard lock(waiting->m_Mutex);
    co_return std::move(waiting->m_Result);
}
