#pragma once
// The SOCKS5 listener: admits clients from the allowed blocks while fewer
// than the maximum are connected, in all and from their address, and hands
// each to a session on the next I/O thread of the pool.

#include <string>

#include "Listener.h"
#include "ProxyContext.h"

class ProxyServer {
public:
    ProxyServer(IoPool& pool, ProxyContext& context);
    // False with a message when the address cannot be bound.
    bool Listen(const std::string& host, uint16_t port, std::string& error) {
        return m_Listener.Listen(host, port, error);
    }
    void Start() { m_Listener.Start(); }
    // Closes the listening socket; open connections go on.
    void StopAccepting() { m_Listener.Close(); }
    std::string Where() const { return m_Listener.Where(); }
    tcp::endpoint Endpoint() const { return m_Listener.Endpoint(); }

private:
    bool Admit(const tcp::endpoint& client);
    // Reports a refusal to the monitor, the first of an address and then once
    // a minute, and to the log's count of refusals.
    void Refuse(const tcp::endpoint& client, uint32_t code, const std::string& why);
    // The same for a refusal whose result text is `text` as it stands.
    void Report(const tcp::endpoint& client, RefusedBy by, uint32_t code, const std::string& why,
                const std::string& text);

    ProxyContext& m_Context;
    Listener m_Listener;
};
