#pragma once
// The monitor: answers each one-byte request of a client on port 5051 with
// the records since its previous request, then the empty message. A limited
// number of clients at a time, and a few of them per address: each one costs
// a feed of its own.

#include <string>

#include "Listener.h"
#include "MonitorContext.h"

class MonitorServer {
public:
    static constexpr uint16_t Port = 5051;

    MonitorServer(IoPool& pool, MonitorContext& context);
    bool Listen(const std::string& host, std::string& error) {
        return m_Listener.Listen(host, Port, error);
    }
    void Start() { m_Listener.Start(); }
    std::string Where() const { return m_Listener.Where(); }
    tcp::endpoint Endpoint() const { return m_Listener.Endpoint(); }

private:
    bool Admit(const tcp::endpoint& client);

    MonitorContext& m_Context;
    Listener m_Listener;
};
