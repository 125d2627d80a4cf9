#pragma once
// Host name lookups on threads of their own, apart from password checks, so
// that names whose name server never answers hold up no login. A lookup has
// a deadline (the connect time-out, counted from the request). The threads
// are shared fairly per client (FairPool): one client whose names never
// resolve holds at most a few of them and waits for the rest itself.

#include <optional>
#include <string>
#include <vector>

#include "FairPool.h"

struct Lookup {
    std::vector<tcp::endpoint> m_Endpoints;
    bool m_bFailed = false;
};

class LookupPool {
public:
    // At most four lookups of one client run at once.
    explicit LookupPool(unsigned threads) : m_Pool(threads, 4) {}

    // Nothing when the deadline passed first. Runs on the caller's executor.
    awaitable<std::optional<Lookup>> Resolve(const Address16& client, std::string host,
                                             uint16_t port, Clock::time_point deadline);
    // Lookups already running finish on their own; waits at most `limit` for them.
    bool Stop(std::chrono::milliseconds limit) { return m_Pool.Stop(limit); }

private:
    FairPool m_Pool;
};

// getaddrinfo(3): blocks.
Lookup ResolveNow(const std::string& host, uint16_t port);
