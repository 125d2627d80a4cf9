#include "LookupPool.h"

#include <netdb.h>

#include <cstring>
#include <future>
#include <memory>
#include <mutex>

namespace {

// What the session and the lookup thread share; whichever is last frees it.
struct Waiting {
    explicit Waiting(const asio::any_io_executor& executor) : m_Timer(executor) {}
    asio::steady_timer m_Timer;
    std::mutex m_Mutex;
    std::optional<Lookup> m_Result;  // under the mutex
    std::atomic<bool> m_bAbandoned{false};
};

}  // namespace

Lookup ResolveNow(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    Lookup lookup;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
        lookup.m_bFailed = true;
        return lookup;
    }
    for (const addrinfo* at = list; at != nullptr; at = at->ai_next) {
        tcp::endpoint endpoint;
        if (at->ai_addrlen > endpoint.capacity()) continue;
        std::memcpy(endpoint.data(), at->ai_addr, at->ai_addrlen);
        endpoint.resize(at->ai_addrlen);
        lookup.m_Endpoints.push_back(endpoint);
    }
    freeaddrinfo(list);
    return lookup;
}

awaitable<std::optional<Lookup>> LookupPool::Resolve(std::string host, uint16_t port,
                                                     Clock::time_point deadline) {
    auto waiting = std::make_shared<Waiting>(co_await asio::this_coro::executor);
    waiting->m_Timer.expires_at(deadline);
    m_Pending.fetch_add(1, std::memory_order_relaxed);
    asio::post(m_Pool, [this, waiting, host, port] {
        m_Pending.fetch_sub(1, std::memory_order_relaxed);
        if (waiting->m_bAbandoned.load()) return;
        Lookup lookup = ResolveNow(host, port);
        {
            std::lock_guard lock(waiting->m_Mutex);
            waiting->m_Result = std::move(lookup);
        }
        // The timer belongs to the session's thread: wake it there.
        asio::post(waiting->m_Timer.get_executor(), [waiting] { waiting->m_Timer.cancel(); });
    });
    std::error_code ignored;
    co_await waiting->m_Timer.async_wait(NoThrow(ignored));
    waiting->m_bAbandoned = true;
    std::lock_guard lock(waiting->m_Mutex);
    co_return std::move(waiting->m_Result);
}

bool LookupPool::Stop(std::chrono::milliseconds limit) {
    m_Pool.stop();
    auto joined = std::async(std::launch::async, [this] { m_Pool.join(); });
    return joined.wait_for(limit) == std::future_status::ready;
}
