#pragma once
// A thread of its own that works on the newest job it is given: a job given
// while another waits replaces it, and one given while a job runs waits for
// that job to end. The work runs on the thread; what it makes is the work's
// to hand on. The destructor lets the job in hand end and drops the one
// waiting.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

template <class Job>
class LatestWork {
public:
    explicit LatestWork(std::function<void(Job& job)> work)
        : m_Work(std::move(work)), m_Thread([this] { Run(); }) {}
    ~LatestWork() {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_bStop = true;
        }
        m_Wake.notify_one();
        m_Thread.join();
    }
    LatestWork(const LatestWork&) = delete;
    LatestWork& operator=(const LatestWork&) = delete;

    void Give(Job job) {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Waiting.emplace(std::move(job));
        }
        m_Wake.notify_one();
    }

private:
    void Run() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(m_Mutex);
                m_Wake.wait(lock, [this] { return m_bStop || m_Waiting.has_value(); });
                if (m_bStop) return;
                job = std::move(*m_Waiting);
                m_Waiting.reset();
            }
            m_Work(job);
        }
    }

    std::function<void(Job& job)> m_Work;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    std::optional<Job> m_Waiting;
    bool m_bStop = false;
    std::thread m_Thread;  // last: it starts once the rest is there
};
