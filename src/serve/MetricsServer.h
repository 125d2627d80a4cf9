#pragma once
// Answers GET /metrics with the Prometheus text exposition, one request per
// connection; anything else gets 404. A client has a few seconds to send its
// request, and a request larger than a few KiB is not read further. Only
// clients of --metrics-allow, and at most --max-metrics-clients at once: a
// flood of scrapes must not take the program's descriptors.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "Listener.h"

class MetricsServer {
public:
    struct Limits {
        std::vector<Cidr> m_Allow;  // --metrics-allow
        size_t m_MaxClients = 0;    // --max-metrics-clients
    };
    // Both called on the I/O threads: the limits as they are now (a reload may
    // change them), and the exposition.
    using LimitsNow = std::function<Limits()>;
    using Exposition = std::function<std::string()>;

    MetricsServer(IoPool& pool, const ServerLog& log, RefusalLog& refusals, LimitsNow limits,
                  Exposition text);
    bool Listen(const std::string& host, uint16_t port, std::string& error) {
        return m_Listener.Listen(host, port, error);
    }
    void Start() { m_Listener.Start(); }
    std::string Where() const { return m_Listener.Where(); }
    tcp::endpoint Endpoint() const { return m_Listener.Endpoint(); }

private:
    bool Admit(const tcp::endpoint& client);
    awaitable<void> Serve(tcp::socket socket);

    RefusalLog& m_Refusals;
    const LimitsNow m_Limits;
    const Exposition m_Text;
    std::atomic<size_t> m_Clients{0};
    Listener m_Listener;
};
