#include "Listener.h"

bool Listener::Listen(const std::string& host, uint16_t port, std::string& error) {
    std::error_code failure;
    const tcp::endpoint endpoint(asio::ip::make_address(host, failure), port);
    if (!failure) m_Acceptor.open(endpoint.protocol(), failure);
    if (!failure) m_Acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
    if (!failure) m_Acceptor.bind(endpoint, failure);
    if (!failure) m_Acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + EndpointText(endpoint) + ": " + failure.message();
        return false;
    }
    return true;
}

std::string Listener::Where() const {
    std::error_code ignored;
    return EndpointText(m_Acceptor.local_endpoint(ignored));
}

tcp::endpoint Listener::Endpoint() const {
    std::error_code ignored;
    return m_Acceptor.local_endpoint(ignored);
}

void Listener::Close() {
    std::error_code ignored;
    m_Acceptor.close(ignored);
}

void Listener::Start() {
    asio::co_spawn(m_Pool.Main(), Accept(), asio::detached);
}

awaitable<void> Listener::Accept() {
    asio::steady_timer pause(m_Pool.Main());
    for (;;) {
        std::error_code error;
        // The client's address as accept(2) gives it, without asking the socket again.
        tcp::endpoint client;
        tcp::socket socket =
            co_await m_Acceptor.async_accept(m_Pool.Next(), client, NoThrow(error));
        if (error == asio::error::operation_aborted || !m_Acceptor.is_open()) co_return;
        if (error) {
            // Out of descriptors, most likely: give closing connections a moment.
            m_Log.Notice("accept failed: " + error.message());
            pause.expires_after(std::chrono::milliseconds(100));
            co_await pause.async_wait(NoThrow(error));
            continue;
        }
        if (!m_Admit(client)) {
            socket.close(error);
            continue;
        }
        m_Take(std::move(socket), client);
    }
}

bool IsAllowed(const std::vector<Cidr>& blocks, const asio::ip::address& address) {
    const Address16 bytes = ToAddress16(address);
    for (const Cidr& block : blocks) {
        if (block.Contains(bytes)) return true;
    }
    return false;
}

bool AdmitWatcher(RefusalLog& refusals, const std::string& kind, const tcp::endpoint& client,
                  const std::vector<Cidr>& allow, size_t connected, size_t limit) {
    const std::string who = kind + " client ";
    if (!IsAllowed(allow, client.address())) {
        refusals.Refused(who, client, "not in --" + kind + "-allow");
        return false;
    }
    if (connected >= limit) {
        refusals.Refused(who, client,
                         std::to_string(limit) + " " + kind + " clients already connected (--max-" +
                             kind + "-clients)");
        return false;
    }
    return true;
}
