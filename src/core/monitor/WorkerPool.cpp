#include "core/monitor/WorkerPool.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Long enough that a session polling every few seconds keeps its thread,
// short enough that threads freed by a burst of work soon go.
constexpr auto IdleTime = std::chrono::seconds(2);

}  // namespace

WorkerPool& WorkerPool::ForConnects() {
    static WorkerPool* const pool = new WorkerPool;
    return *pool;
}

WorkerPool& WorkerPool::ForPolls() {
    static WorkerPool* const pool = new WorkerPool;
    return *pool;
}

void WorkerPool::AddPlace() {
    std::lock_guard lock(m_Mutex);
    ++m_nPlaces;
}

void WorkerPool::RemovePlace() {
    std::lock_guard lock(m_Mutex);
    if (m_nPlaces > 0) --m_nPlaces;
}

size_t WorkerPool::Bound() const {
    std::lock_guard lock(m_Mutex);
    return BoundLocked();
}

size_t WorkerPool::Threads() const {
    std::lock_guard lock(m_Mutex);
    return m_nThreads;
}

bool WorkerPool::Submit(Task task) {
    std::lock_guard lock(m_Mutex);
    m_Queue.push_back(std::move(task));
    // An idle thread that was woken counts as idle until it runs, so each
    // waiting task beyond the idle threads needs a thread of its own.
    if (m_Queue.size() <= m_nIdle || m_nThreads >= BoundLocked()) {
        m_Queued.notify_one();
        return true;
    }
    try {
        std::thread([this] { Serve(); }).detach();
        ++m_nThreads;
    } catch (const std::system_error&) {
        if (m_nThreads == 0) {
            m_Queue.pop_back();
            return false;
        }
        // The threads there are take it in turn.
    }
    return true;
}

void WorkerPool::Serve() {
    std::unique_lock lock(m_Mutex);
    // A thread beyond the bound (the bound went down) ends after its task.
    while (m_nThreads <= BoundLocked()) {
        if (m_Queue.empty()) {
            ++m_nIdle;
            const bool queued = m_Queued.wait_for(lock, IdleTime, [&] { return !m_Queue.empty(); });
            --m_nIdle;
            if (!queued) break;
            continue;
        }
        Task task = std::move(m_Queue.front());
        m_Queue.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // what it holds goes before the lock is taken again
        lock.lock();
    }
    --m_nThreads;
    // A wake-up this thread took but leaves unused goes to another.
    if (!m_Queue.empty()) m_Queued.notify_one();
}
