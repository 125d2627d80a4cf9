#pragma once
// Host name lookups on threads of their own, apart from password checks, so
// that names whose name server never answers hold up no login. A lookup has
// a deadline (the connect time-out, counted from the request): the waiting
// session is told "too late" when it passes, whether the lookup was still
// queued or running; one still queued then is skipped.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "Asio.h"

struct Lookup {
    std::vector<tcp::endpoint> m_Endpoints;
    bool m_bFailed = false;
};

class LookupPool {
public:
    explicit LookupPool(unsigned threads) : m_Pool(threads) {}

    // Nothing when the deadline passed first. Runs on the caller's executor.
    awaitable<std::optional<Lookup>> Resolve(std::string host, uint16_t port,
                                             Clock::time_point deadline);
    // Lookups already running finish on their own; waits at most `limit` for them.
    bool Stop(std::chrono::milliseconds limit);
    size_t Pending() const { return m_Pending.load(std::memory_order_relaxed); }

private:
    asio::thread_pool m_Pool;
    std::atomic<size_t> m_Pending{0};
};

// getaddrinfo(3): blocks.
Lookup ResolveNow(const std::string& host, uint16_t port);
