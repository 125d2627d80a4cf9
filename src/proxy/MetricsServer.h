#pragma once
// Answers GET /metrics with the Prometheus text exposition, one request per
// connection; anything else gets 404. A client has a few seconds to send its
// request, and a request larger than a few KiB is not read further. Only
// clients of --metrics-allow, and at most --max-metrics-clients at once: a
// flood of scrapes must not take the proxy's descriptors.

#include <string>

#include "Listener.h"

class MetricsServer {
public:
    MetricsServer(IoPool& pool, ProxyContext& context);
    bool Listen(const std::string& host, uint16_t port, std::string& error) {
        return m_Listener.Listen(host, port, error);
    }
    void Start() { m_Listener.Start(); }
    std::string Where() const { return m_Listener.Where(); }
    tcp::endpoint Endpoint() const { return m_Listener.Endpoint(); }

private:
    bool Admit(const tcp::endpoint& client);
    static awaitable<void> Serve(ProxyContext& context, tcp::socket socket);

    ProxyContext& m_Context;
    Listener m_Listener;
};
