#pragma once
// The monitor: answers each one-byte request of a client on port 5051 with
// the records since its previous request, then the empty message.

#include <string>

#include "Asio.h"
#include "ProxyContext.h"

class MonitorServer {
public:
    static constexpr uint16_t Port = 5051;

    MonitorServer(asio::io_context& io, ProxyContext& context)
        : m_Io(io), m_Context(context), m_Acceptor(io) {}
    bool Listen(const std::string& host, std::string& error);
    void Start();
    std::string Where() const;

private:
    awaitable<void> Accept();

    asio::io_context& m_Io;
    ProxyContext& m_Context;
    tcp::acceptor m_Acceptor;
};
