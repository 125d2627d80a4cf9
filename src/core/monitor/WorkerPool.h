#pragma once
// Threads that run the sessions' network steps for the whole process. Their
// number is bounded: 8, plus one for each live SessionWorker. A host lookup
// cannot be interrupted, so connects that are given up while their lookup
// hangs would otherwise pile up a thread each; here a task beyond the bound
// waits in the queue until a thread comes free. Connects and polls have a
// pool each, so that lookups left hanging never delay a healthy session's
// poll. A thread that has found nothing to do for a short while ends, so an
// idle process keeps none of them.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class WorkerPool {
public:
    using Task = std::function<void()>;
    static constexpr size_t BaseBound = 8;

    // The process's pools, of connects and of polls. They are never
    // destroyed: their threads are detached and may still be waiting for
    // work while the process ends.
    static WorkerPool& ForConnects();
    static WorkerPool& ForPolls();

    // A live SessionWorker holds one more place for as long as it exists.
    void AddPlace();
    void RemovePlace();

    // Runs the task on a pool thread: at once when a thread is free or may
    // still be started, else once one comes free. False (the task dropped)
    // only when the pool has no thread and none could be started.
    bool Submit(Task task);

    size_t Bound() const;
    size_t Threads() const;  // alive now, busy or idle

private:
    WorkerPool() = default;
    void Serve();
    size_t BoundLocked() const { return BaseBound + m_nPlaces; }

    mutable std::mutex m_Mutex;
    std::condition_variable m_Queued;
    std::deque<Task> m_Queue;
    size_t m_nPlaces = 0;
    size_t m_nThreads = 0;
    size_t m_nIdle = 0;  // threads waiting for a task
};
