#include "OwnConnections.h"

#include <algorithm>

#include "ClientKey.h"
#include "ConnectionInfo.h"

namespace {

// The sockets of an IPv6 listener show IPv4 ends mapped.
tcp::endpoint Canonical(const tcp::endpoint& endpoint) {
    return {Unmapped(endpoint.address()), endpoint.port()};
}

}  // namespace

size_t OwnConnections::Hash::operator()(const tcp::endpoint& endpoint) const {
    return Address16Hash()(ToAddress16(endpoint.address())) * 31 + endpoint.port();
}

void OwnConnections::Add(const tcp::endpoint& local, const tcp::endpoint& remote) {
    std::lock_guard lock(m_Mutex);
    m_Connections.emplace(Canonical(local), Canonical(remote));
}

void OwnConnections::Remove(const tcp::endpoint& local, const tcp::endpoint& remote) {
    const tcp::endpoint to = Canonical(remote);
    std::lock_guard lock(m_Mutex);
    const auto [begin, end] = m_Connections.equal_range(Canonical(local));
    const auto found =
        std::find_if(begin, end, [&to](const auto& ends) { return ends.second == to; });
    if (found != end) m_Connections.erase(found);
}

bool OwnConnections::IsOwn(const tcp::endpoint& client,
                           const std::function<tcp::endpoint()>& server) const {
    const tcp::endpoint from = Canonical(client);
    {
        std::lock_guard lock(m_Mutex);
        if (m_Connections.count(from) == 0) return false;
    }
    const tcp::endpoint to = Canonical(server());
    std::lock_guard lock(m_Mutex);
    const auto [begin, end] = m_Connections.equal_range(from);
    return std::any_of(begin, end, [&to](const auto& ends) { return ends.second == to; });
}
