#pragma once
// The proxy's own connections to destinations, by both their ends. A client
// that comes from the local end of one of them to the address and port that
// connection went to is the proxy itself: a CONNECT that came back to one
// of its listeners, whatever address it went through (one gained a moment
// ago, a local route for a whole block). Such a client is refused, so that
// no loop through the proxy ever counts as a client of this machine.

#include <functional>
#include <mutex>
#include <unordered_map>

#include "Asio.h"

class OwnConnections {
public:
    void Add(const tcp::endpoint& local, const tcp::endpoint& remote);
    void Remove(const tcp::endpoint& local, const tcp::endpoint& remote);
    // `client` as the accepted socket's remote end; `server` answers its
    // local end, asked only when a connection of the proxy starts at `client`
    // (it costs a system call, and almost no client is the proxy).
    bool IsOwn(const tcp::endpoint& client, const std::function<tcp::endpoint()>& server) const;

private:
    struct Hash {
        size_t operator()(const tcp::endpoint& endpoint) const;
    };

    mutable std::mutex m_Mutex;
    std::unordered_multimap<tcp::endpoint, tcp::endpoint, Hash> m_Connections;  // local to remote
};
