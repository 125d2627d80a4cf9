#include "core/monitor/DeadlineWatcher.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

DeadlineWatcher& DeadlineWatcher::Shared() {
    static DeadlineWatcher* const watcher = new DeadlineWatcher;
    return *watcher;
}

uint64_t DeadlineWatcher::Add(int ms, Action action) {
    std::lock_guard lock(m_Mutex);
    const uint64_t id = ++m_LastId;
    m_Pending[id] = Pending{Clock::now() + std::chrono::milliseconds(ms), std::move(action)};
    if (m_bRunning) {
        m_Changed.notify_all();  // it may come before the one being waited for
        return id;
    }
    try {
        std::thread([this] { Watch(); }).detach();
        m_bRunning = true;
    } catch (const std::system_error&) {
        m_Pending.erase(id);
        return 0;
    }
    return id;
}

void DeadlineWatcher::Withdraw(uint64_t id) {
    std::lock_guard lock(m_Mutex);
    if (m_Pending.erase(id) > 0) m_Changed.notify_all();
}

void DeadlineWatcher::Watch() {
    std::unique_lock lock(m_Mutex);
    while (!m_Pending.empty()) {
        const auto next =
            std::min_element(m_Pending.begin(), m_Pending.end(),
                             [](auto& a, auto& b) { return a.second.m_When < b.second.m_When; });
        // A copy: the entry may be withdrawn while the thread waits.
        const Clock::time_point when = next->second.m_When;
        if (Clock::now() < when) {
            m_Changed.wait_until(lock, when);
            continue;
        }
        Action action = std::move(next->second.m_Action);
        m_Pending.erase(next);
        lock.unlock();
        action();
        action = nullptr;  // what it holds goes before the lock is taken again
        lock.lock();
    }
    m_bRunning = false;
}
