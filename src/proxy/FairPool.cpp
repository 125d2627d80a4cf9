#include "FairPool.h"

FairPool::FairPool(unsigned threads, size_t perClient) : m_Queue(perClient) {
    for (unsigned i = 0; i < threads; ++i) m_Threads.emplace_back([this] { Work(); });
}

FairPool::~FairPool() {
    {
        std::lock_guard lock(m_Mutex);
        m_bStopping = true;
    }
    m_Wake.notify_all();
    for (std::thread& thread : m_Threads) {
        if (thread.joinable()) thread.join();
    }
}

void FairPool::Post(const Address16& client, FairQueue::Job job, bool ahead) {
    {
        std::lock_guard lock(m_Mutex);
        if (m_bStopping) return;
        m_Queue.Push(client, std::move(job), ahead);
    }
    m_Wake.notify_one();
}

void FairPool::Work() {
    std::unique_lock lock(m_Mutex);
    for (;;) {
        std::optional<FairQueue::Turn> turn;
        m_Wake.wait(lock, [&] { return m_bStopping || (turn = m_Queue.Take()); });
        if (m_bStopping) return;
        ++m_Running;
        lock.unlock();
        turn->m_Job();
        turn->m_Job = nullptr;  // what it holds goes before the lock is taken again
        lock.lock();
        --m_Running;
        m_Queue.Done(turn->m_Key);
        m_Ended.notify_all();
        // The key's next job may start now, on this thread or another.
        if (m_Queue.Waiting() > 0) m_Wake.notify_one();
    }
}

bool FairPool::Stop(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_Mutex);
    m_bStopping = true;
    m_Wake.notify_all();
    if (!m_Ended.wait_for(lock, limit, [this] { return m_Running == 0; })) return false;
    lock.unlock();
    for (std::thread& thread : m_Threads) thread.join();
    return true;
}
