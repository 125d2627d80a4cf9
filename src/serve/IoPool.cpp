#include "IoPool.h"

#include <thread>

IoPool::IoPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
        m_Contexts.push_back(std::make_unique<asio::io_context>(1));
        m_Guards.push_back(asio::make_work_guard(*m_Contexts.back()));
    }
}

asio::io_context& IoPool::Next() {
    return *m_Contexts[m_Next.fetch_add(1, std::memory_order_relaxed) % m_Contexts.size()];
}

void IoPool::Run() {
    std::vector<std::thread> workers;
    for (size_t i = 1; i < m_Contexts.size(); ++i) {
        workers.emplace_back([context = m_Contexts[i].get()] { context->run(); });
    }
    m_Contexts.front()->run();
    for (std::thread& worker : workers) worker.join();
}

void IoPool::Stop() {
    for (auto& context : m_Contexts) context->stop();
}
