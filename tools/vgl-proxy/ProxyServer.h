#pragma once
// The SOCKS5 listener: admits clients from the allowed blocks while fewer
// than the maximum are connected, and hands each to a session on its own strand.

#include <string>

#include "Asio.h"
#include "ProxyContext.h"

class ProxyServer {
public:
    ProxyServer(asio::io_context& io, ProxyContext& context)
        : m_Io(io), m_Context(context), m_Acceptor(io) {}
    // False with a message when the address cannot be bound.
    bool Listen(const std::string& host, uint16_t port, std::string& error);
    void Start();
    std::string Where() const;

private:
    awaitable<void> Accept();
    bool Admit(const tcp::endpoint& client);

    asio::io_context& m_Io;
    ProxyContext& m_Context;
    tcp::acceptor m_Acceptor;
};

// Binds and listens; shared with the monitor's listener.
bool ListenOn(tcp::acceptor& acceptor, const std::string& host, uint16_t port, std::string& error);
bool IsAllowed(const std::vector<Cidr>& blocks, const asio::ip::address& address);
