#include "OwnConnections.h"

#include "ClientKey.h"
#include "ConnectionInfo.h"

namespace {

// The sockets of an IPv6 listener show IPv4 ends mapped.
tcp::endpoint Canonical(const tcp::endpoint& endpoint) {
    return {Unmapped(endpoint.address()), endpoint.port()};
}

}  // namespace

size_t OwnConnections::Hash::operator()(const Ends& ends) const {
    const Address16Hash hash;
    return (hash(ToAddress16(ends.first.address())) * 31 + ends.first.port()) * 31 +
           hash(ToAddress16(ends.second.address())) + ends.second.port();
}

void OwnConnections::Add(const tcp::endpoint& local, const tcp::endpoint& remote) {
    std::lock_guard lock(m_Mutex);
    m_Connections.insert({Canonical(local), Canonical(remote)});
}

void OwnConnections::Remove(const tcp::endpoint& local, const tcp::endpoint& remote) {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Connections.find({Canonical(local), Canonical(remote)});
    if (found != m_Connections.end()) m_Connections.erase(found);
}

bool OwnConnections::IsOwn(const tcp::endpoint& client, const tcp::endpoint& server) const {
    std::lock_guard lock(m_Mutex);
    return m_Connections.count({Canonical(client), Canonical(server)}) != 0;
}
