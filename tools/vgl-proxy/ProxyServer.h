#pragma once
// The SOCKS5 listener: admits clients from the allowed blocks while fewer
// than the maximum are connected, and hands each to a session on the next
// I/O thread of the pool.

#include <string>

#include "Asio.h"
#include "IoPool.h"
#include "ProxyContext.h"

class ProxyServer {
public:
    ProxyServer(IoPool& pool, ProxyContext& context)
        : m_Pool(pool), m_Context(context), m_Acceptor(pool.Main()) {}
    // False with a message when the address cannot be bound.
    bool Listen(const std::string& host, uint16_t port, std::string& error);
    void Start();
    std::string Where() const;

private:
    awaitable<void> Accept();
    bool Admit(const tcp::endpoint& client);

    IoPool& m_Pool;
    ProxyContext& m_Context;
    tcp::acceptor m_Acceptor;
};

// Binds and listens; shared with the monitor's listener.
bool ListenOn(tcp::acceptor& acceptor, const std::string& host, uint16_t port, std::string& error);
bool IsAllowed(const std::vector<Cidr>& blocks, const asio::ip::address& address);
