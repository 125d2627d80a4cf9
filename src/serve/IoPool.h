#pragma once
// One io_context per I/O thread. A connection lives on one of them from
// accept to close, so its events never hop between threads: no strand, no
// wake-up of another thread per burst of data. Connections are dealt out in turn.

#include <atomic>
#include <memory>
#include <vector>

#include "Asio.h"

class IoPool {
public:
    explicit IoPool(unsigned threads);
    // Where the listeners and the signal handler live.
    asio::io_context& Main() { return *m_Contexts.front(); }
    asio::io_context& Next();
    // Runs every context, one on the calling thread, until Stop().
    void Run();
    void Stop();

private:
    std::vector<std::unique_ptr<asio::io_context>> m_Contexts;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> m_Guards;
    std::atomic<size_t> m_Next{0};
};
