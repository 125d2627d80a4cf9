#pragma once
// The proxy's own connections to destinations, by both their ends. A client
// that comes from the local end of one of them to the address and port that
// connection went to is the proxy itself: a CONNECT that came back to one
// of its listeners, whatever address it went through (one gained a moment
// ago, a local route for a whole block). Such a client is refused, so that
// no loop through the proxy ever counts as a client of this machine.

#include <mutex>
#include <unordered_set>
#include <utility>

#include "Asio.h"

class OwnConnections {
public:
    void Add(const tcp::endpoint& local, const tcp::endpoint& remote);
    void Remove(const tcp::endpoint& local, const tcp::endpoint& remote);
    // `client` as the accepted socket's remote end, `server` as its local end.
    bool IsOwn(const tcp::endpoint& client, const tcp::endpoint& server) const;

private:
    using Ends = std::pair<tcp::endpoint, tcp::endpoint>;
    struct Hash {
        size_t operator()(const Ends& ends) const;
    };

    mutable std::mutex m_Mutex;
    std::unordered_multiset<Ends, Hash> m_Connections;
};
