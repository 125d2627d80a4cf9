#include "MonitorClient.h"

#include <algorithm>

namespace {

// Memory kept between requests; a larger batch buffer is given back.
constexpr size_t KeptBatchCapacity = 1 << 20;

// VGL asks every 5 to 120 seconds; a short idle time-out meant for proxied
// connections must not drop it between two polls.
std::chrono::seconds IdleLimit(unsigned idleTimeout) {
    return std::chrono::seconds(std::max(idleTimeout, 300u));
}

}  // namespace

MonitorClient::MonitorClient(ProxyContext& context, tcp::socket socket)
    : m_Context(context),
      m_Socket(std::move(socket)),
      m_Watchdog(m_Socket.get_executor()),
      m_LastRequest(Clock::now()) {
    m_Context.m_MonitorClients.fetch_add(1);
    std::error_code ignored;
    m_Endpoint = m_Socket.remote_endpoint(ignored);
}

void MonitorClient::Start(std::shared_ptr<MonitorClient> client) {
    const asio::any_io_executor executor = client->m_Socket.get_executor();
    asio::co_spawn(executor, client->Watch(client), asio::detached);
    asio::co_spawn(executor, client->Run(client), asio::detached);
}

// A client that neither asks nor takes its answer for an idle period is dropped.
awaitable<void> MonitorClient::Watch(std::shared_ptr<MonitorClient> /*keepAlive*/) {
    auto watch = m_Watchdog.Run(
        [this, idle = IdleLimit(m_Context.Settings()->m_Options.m_IdleTimeout)] {
            return m_LastRequest + idle;
        },
        [this] {
            std::error_code ignored;
            m_Socket.close(ignored);
        });
    co_await std::move(watch);
}

// A request is exactly the one-byte message 0x00.
awaitable<bool> MonitorClient::NextRequest(std::string& reason) {
    uint8_t frame[3];
    std::error_code error;
    co_await asio::async_read(m_Socket, asio::buffer(frame, 2), NoThrow(error));
    if (error) {
        reason = "disconnected";
        co_return false;
    }
    if (frame[0] != 0 || frame[1] != 1) {
        reason = "not a request";
        co_return false;
    }
    co_await asio::async_read(m_Socket, asio::buffer(frame + 2, 1), NoThrow(error));
    if (error || frame[2] != 0) {
        reason = error ? "disconnected" : "not a request";
        co_return false;
    }
    co_return true;
}

awaitable<void> MonitorClient::Run(std::shared_ptr<MonitorClient> /*keepAlive*/) {
    const std::string who = "monitor client " + EndpointText(m_Endpoint);
    m_Context.m_Log.Connection(who + " connected");
    const std::shared_ptr<MonitorHub::Feed> feed = m_Context.m_Hub.Attach();
    MonBytes batch;
    std::string reason;
    while (co_await NextRequest(reason)) {
        m_LastRequest = Clock::now();
        if (!m_Context.m_Hub.TakeBatch(*feed, batch)) {
            reason = "fell behind by " + std::to_string(MonitorHub::MaxPending) + " records";
            break;
        }
        std::error_code error;
        co_await asio::async_write(m_Socket, asio::buffer(batch), NoThrow(error));
        if (error) {
            reason = "disconnected";
            break;
        }
        if (batch.capacity() > KeptBatchCapacity) MonBytes().swap(batch);
    }
    m_Context.m_Hub.Detach(feed);
    std::error_code ignored;
    m_Socket.close(ignored);
    m_Watchdog.Stop();
    m_Context.m_Log.Connection(who + " " + reason);
}
