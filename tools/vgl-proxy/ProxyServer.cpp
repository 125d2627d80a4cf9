#include "ProxyServer.h"

#include "ProxySession.h"

bool ListenOn(tcp::acceptor& acceptor, const std::string& host, uint16_t port, std::string& error) {
    std::error_code failure;
    const tcp::endpoint endpoint(asio::ip::make_address(host, failure), port);
    if (!failure) acceptor.open(endpoint.protocol(), failure);
    if (!failure) acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
    if (!failure) acceptor.bind(endpoint, failure);
    if (!failure) acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + EndpointText(endpoint) + ": " + failure.message();
        return false;
    }
    return true;
}

bool IsAllowed(const std::vector<Cidr>& blocks, const asio::ip::address& address) {
    const Address16 bytes = ToAddress16(address);
    for (const Cidr& block : blocks) {
        if (block.Contains(bytes)) return true;
    }
    return false;
}

bool ProxyServer::Listen(const std::string& host, uint16_t port, std::string& error) {
    return ListenOn(m_Acceptor, host, port, error);
}

std::string ProxyServer::Where() const {
    std::error_code ignored;
    return EndpointText(m_Acceptor.local_endpoint(ignored));
}

void ProxyServer::Start() {
    asio::co_spawn(m_Pool.Main(), Accept(), asio::detached);
}

bool ProxyServer::Admit(const tcp::endpoint& client) {
    if (!IsAllowed(m_Context.m_Options.m_Allow, client.address())) {
        m_Context.m_Log.Connection(EndpointText(client) + " refused: not in --allow");
        return false;
    }
    if (m_Context.m_Active.load(std::memory_order_relaxed) >=
        m_Context.m_Options.m_MaxConnections) {
        m_Context.m_Log.Connection(EndpointText(client) + " refused: " +
                                   std::to_string(m_Context.m_Options.m_MaxConnections) +
                                   " connections already open (--max-connections)");
        return false;
    }
    return true;
}

awaitable<void> ProxyServer::Accept() {
    asio::steady_timer pause(m_Pool.Main());
    for (;;) {
        std::error_code error;
        tcp::socket socket = co_await m_Acceptor.async_accept(m_Pool.Next(), NoThrow(error));
        if (error == asio::error::operation_aborted) co_return;
        if (error) {
            // Out of descriptors, most likely: give closing connections a moment.
            m_Context.m_Log.Notice("accept failed: " + error.message());
            pause.expires_after(std::chrono::milliseconds(100));
            co_await pause.async_wait(NoThrow(error));
            continue;
        }
        const tcp::endpoint client = socket.remote_endpoint(error);
        if (error || !Admit(client)) {
            socket.close(error);
            continue;
        }
        m_Context.m_Active.fetch_add(1, std::memory_order_relaxed);
        ProxySession::Start(std::make_shared<ProxySession>(m_Context, std::move(socket)));
    }
}
