#pragma once
// The monitor: answers each one-byte request of a client on port 5051 with
// the records since its previous request, then the empty message.

#include <string>

#include "Asio.h"
#include "IoPool.h"
#include "ProxyContext.h"

class MonitorServer {
public:
    static constexpr uint16_t Port = 5051;

    MonitorServer(IoPool& pool, ProxyContext& context)
        : m_Pool(pool), m_Context(context), m_Acceptor(pool.Main()) {}
    bool Listen(const std::string& host, std::string& error);
    void Start();
    std::string Where() const;

private:
    awaitable<void> Accept();

    IoPool& m_Pool;
    ProxyContext& m_Context;
    tcp::acceptor m_Acceptor;
};
