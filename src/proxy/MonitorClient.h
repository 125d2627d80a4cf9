#pragma once
// One client of the monitor. Its writes wait on their own, so however slowly
// it reads, it holds up only itself.

#include <memory>

#include "Asio.h"
#include "MonitorHub.h"
#include "ProxyContext.h"
#include "Watchdog.h"

class MonitorClient : public std::enable_shared_from_this<MonitorClient> {
public:
    MonitorClient(ProxyContext& context, tcp::socket socket);
    ~MonitorClient() { m_Context.m_MonitorClients.fetch_sub(1); }
    static void Start(std::shared_ptr<MonitorClient> client);

private:
    // The coroutines hold the client alive through their parameter.
    awaitable<void> Run(std::shared_ptr<MonitorClient> self);
    awaitable<void> Watch(std::shared_ptr<MonitorClient> self);
    awaitable<bool> NextRequest(std::string& reason);

    ProxyContext& m_Context;
    tcp::socket m_Socket;
    Watchdog m_Watchdog;
    tcp::endpoint m_Endpoint;
    Clock::time_point m_LastRequest;
};
