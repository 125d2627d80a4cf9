#include "MonitorServer.h"

#include "MonitorClient.h"
#include "ProxyServer.h"

bool MonitorServer::Listen(const std::string& host, std::string& error) {
    return ListenOn(m_Acceptor, host, Port, error);
}

std::string MonitorServer::Where() const {
    std::error_code ignored;
    return EndpointText(m_Acceptor.local_endpoint(ignored));
}

void MonitorServer::Start() {
    asio::co_spawn(m_Pool.Main(), Accept(), asio::detached);
}

awaitable<void> MonitorServer::Accept() {
    asio::steady_timer pause(m_Pool.Main());
    for (;;) {
        std::error_code error;
        tcp::socket socket = co_await m_Acceptor.async_accept(m_Pool.Next(), NoThrow(error));
        if (error == asio::error::operation_aborted) co_return;
        if (error) {
            pause.expires_after(std::chrono::milliseconds(100));
            co_await pause.async_wait(NoThrow(error));
            continue;
        }
        const tcp::endpoint client = socket.remote_endpoint(error);
        if (error || !IsAllowed(m_Context.m_Options.m_MonitorAllow, client.address())) {
            if (!error) {
                m_Context.m_Log.Connection("monitor client " + EndpointText(client) +
                                           " refused: not in --monitor-allow");
            }
            socket.close(error);
            continue;
        }
        MonitorClient::Start(std::make_shared<MonitorClient>(m_Context, std::move(socket)));
    }
}
