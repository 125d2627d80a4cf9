#include "MonitorClient.h"

#include <algorithm>

namespace {

// Memory kept between requests; a larger batch buffer is given back.
constexpr size_t KeptBatchCapacity = 1 << 20;
// A batch goes out in pieces of this size, each within the handshake time-out.
constexpr size_t WritePiece = 64 * 1024;

// VGL asks every 5 to 120 seconds; a short idle time-out meant for proxied
// connections must not drop it between two polls.
std::chrono::seconds IdleLimit(unsigned idleTimeout) {
    return std::chrono::seconds(std::max(idleTimeout, 300u));
}

}  // namespace

MonitorClient::MonitorClient(ProxyContext& context, tcp::socket socket,
                             const tcp::endpoint& endpoint)
    : m_Context(context),
      m_Socket(std::move(socket)),
      m_Watchdog(m_Socket.get_executor()),
      m_Endpoint(endpoint),
      m_LastRequest(Clock::now()),
      m_HandshakeLimit(context.Settings()->m_Options.m_HandshakeTimeout),
      m_IdleLimit(IdleLimit(context.Settings()->m_Options.m_IdleTimeout)) {
    m_Context.m_MonitorClients.fetch_add(1);
}

MonitorClient::~MonitorClient() {
    m_Context.m_MonitorLimits.Leave(ToAddress16(m_Endpoint.address()), true);
    m_Context.m_MonitorClients.fetch_sub(1);
}

void MonitorClient::Start(std::shared_ptr<MonitorClient> client) {
    const asio::any_io_executor executor = client->m_Socket.get_executor();
    asio::co_spawn(executor, client->Watch(client), asio::detached);
    asio::co_spawn(executor, client->Run(client), asio::detached);
}

// A client that does not ask at once, or does not take its answer, holds a
// slot that VGL may need: it gets the handshake time-out for either. Between
// two requests it may wait an idle period.
awaitable<void> MonitorClient::Watch(std::shared_ptr<MonitorClient> /*keepAlive*/) {
    auto watch = m_Watchdog.Run([this] { return Deadline(); }, [this] { OnExpire(); });
    co_await std::move(watch);
}

Clock::time_point MonitorClient::Deadline() const {
    if (m_bWriting) return m_WriteStart + m_HandshakeLimit;
    return m_LastRequest + (m_bAsked ? m_IdleLimit : m_HandshakeLimit);
}

void MonitorClient::OnExpire() {
    const std::string within =
        " within " + std::to_string(m_HandshakeLimit.count()) + " s (--handshake-timeout)";
    if (m_bWriting) {
        m_Expired = "did not read its batch" + within;
    } else if (!m_bAsked) {
        m_Expired = "sent no request" + within;
    }
    std::error_code ignored;
    m_Socket.close(ignored);
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

// A reader on a slow link that keeps reading gets its whole batch however
// long that takes; one that stops reading is closed within the time-out.
awaitable<bool> MonitorClient::WriteBatch(const MonBytes& batch) {
    std::error_code error;
    m_bWriting = true;
    for (size_t at = 0; at < batch.size() && !error; at += WritePiece) {
        m_WriteStart = Clock::now();
        if (at == 0) m_Watchdog.Poke();  // the deadline moved earlier
        const size_t length = std::min(WritePiece, batch.size() - at);
        co_await asio::async_write(m_Socket, asio::buffer(batch.data() + at, length),
                                   NoThrow(error));
    }
    m_bWriting = false;
    co_return !error;
}

awaitable<void> MonitorClient::Run(std::shared_ptr<MonitorClient> /*keepAlive*/) {
    const std::string who = "monitor client " + EndpointText(m_Endpoint);
    m_Context.m_Log.Connection(who + " connected");
    const std::shared_ptr<MonitorHub::Feed> feed = m_Context.m_Hub.Attach();
    MonBytes batch;
    std::string reason;
    while (co_await NextRequest(reason)) {
        m_LastRequest = Clock::now();
        m_bAsked = true;
        if (!m_Context.m_Hub.TakeBatch(*feed, batch)) {
            reason = "fell behind by " + std::to_string(MonitorHub::MaxPending) + " records";
            break;
        }
        if (!co_await WriteBatch(batch)) {
            reason = "disconnected";
            break;
        }
        if (batch.capacity() > KeptBatchCapacity) MonBytes().swap(batch);
    }
    m_Context.m_Hub.Detach(feed);
    std::error_code ignored;
    m_Socket.close(ignored);
    m_Watchdog.Stop();
    m_Context.m_Log.Connection(who + " " + (m_Expired.empty() ? reason : m_Expired));
}
