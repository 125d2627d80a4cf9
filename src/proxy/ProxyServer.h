#pragma once
// The SOCKS5 listener: admits clients from the allowed blocks while fewer
// than the maximum are connected, and hands each to a session on the next
// I/O thread of the pool.

#include <string>

#include "Listener.h"

class ProxyServer {
public:
    ProxyServer(IoPool& pool, ProxyContext& context);
    // False with a message when the address cannot be bound.
    bool Listen(const std::string& host, uint16_t port, std::string& error) {
        return m_Listener.Listen(host, port, error);
    }
    void Start() { m_Listener.Start(); }
    std::string Where() const { return m_Listener.Where(); }

private:
    bool Admit(const tcp::endpoint& client);

    ProxyContext& m_Context;
    Listener m_Listener;
};
