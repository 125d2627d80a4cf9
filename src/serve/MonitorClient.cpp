#include "MonitorClient.h"

#include <algorithm>

namespace {

// A control request is a few hundred bytes at most.
constexpr size_t MaxControlBody = 1024;
// Memory kept between requests; a larger batch buffer is given back.
constexpr size_t KeptBatchCapacity = 1 << 20;
// A batch goes out in pieces of this size, each within the handshake time-out.
constexpr size_t WritePiece = 64 * 1024;

// VGL asks every 5 to 120 seconds; a short idle time-out meant for proxied
// connections must not drop it between two polls.
std::chrono::seconds IdleLimit(std::chrono::seconds idleTimeout) {
    return std::max(idleTimeout, std::chrono::seconds(300));
}

}  // namespace

MonitorClient::MonitorClient(MonitorContext& context, tcp::socket socket,
                             const tcp::endpoint& endpoint)
    : m_Context(context),
      m_pSettings(context.Settings()),
      m_Socket(std::move(socket)),
      m_pTls(m_pSettings->m_pTls),
      m_Watchdog(m_Socket.get_executor()),
      m_Endpoint(endpoint),
      m_LastRequest(Clock::now()),
      m_HandshakeLimit(m_pSettings->m_HandshakeTimeout),
      m_IdleLimit(IdleLimit(m_pSettings->m_IdleTimeout)) {
    m_Context.m_Clients.fetch_add(1);
}

MonitorClient::~MonitorClient() {
    m_Context.m_Limits.Leave(ToAddress16(m_Endpoint.address()), true);
    m_Context.m_Clients.fetch_sub(1);
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
    } else if (!m_bSecured) {
        m_Expired = "did not finish the TLS handshake" + within;
    } else if (!m_bAsked) {
        m_Expired = "sent no request" + within;
    }
    std::error_code ignored;
    m_Socket.close(ignored);
}

// The TLS handshake counts against the handshake time-out as the first
// request does, so a plain client on a TLS port is closed within it.
awaitable<bool> MonitorClient::StartTls(const std::string& who) {
    m_Tls.emplace(m_Socket, m_pTls->Context());
    MonTlsServer::Watch(m_Tls->native_handle(), &m_Peer);
    std::error_code error;
    co_await m_Tls->async_handshake(asio::ssl::stream_base::server, NoThrow(error));
    if (error) {
        ReportHandshakeFailure(who, error);
        co_return false;
    }
    m_Version = MonTlsServer::Version(m_Tls->native_handle());
    co_return true;
}

// An unlisted certificate goes through the refusal log, so that a client
// retrying in a loop costs one line a minute.
void MonitorClient::ReportHandshakeFailure(const std::string& who, const std::error_code& error) {
    if (m_Peer.m_bRefused) {
        Counted(MonitorRefusal::ClientKey);
        m_Context.m_Refusals.Refused(
            "monitor client ", m_Endpoint,
            "certificate " + m_Peer.m_Fingerprint + " is not in --monitor-clients");
        return;
    }
    Counted(MonitorRefusal::Handshake);
    m_Context.m_Log.Connection(
        who + " TLS handshake failed: " + (m_Expired.empty() ? error.message() : m_Expired));
}

void MonitorClient::Counted(MonitorRefusal reason) const {
    if (m_Context.m_OnRefused) m_Context.m_OnRefused(reason);
}

std::string MonitorClient::LinkNote() const {
    if (!m_Tls) return {};
    const std::string name = m_Peer.m_Name.empty() ? m_Peer.m_Fingerprint : m_Peer.m_Name;
    return " over TLS as " + name + " (records version " + std::to_string(m_Version) + ")";
}

template <class Buffer>
awaitable<void> MonitorClient::ReadExactly(const Buffer& buffer, std::error_code& error) {
    if (m_Tls) {
        co_await asio::async_read(*m_Tls, buffer, NoThrow(error));
    } else {
        co_await asio::async_read(m_Socket, buffer, NoThrow(error));
    }
}

// A request for records is exactly the one-byte message 0x00. A link that
// chose control may also bring a control request, which leaves `control`
// holding its body; any other message ends the link.
awaitable<bool> MonitorClient::NextRequest(MonBytes& control, std::string& reason) {
    uint8_t frame[2];
    std::error_code error;
    co_await ReadExactly(asio::buffer(frame, 2), error);
    const size_t length = error ? 0 : static_cast<size_t>(frame[0]) << 8 | frame[1];
    if (!error && (length == 0 || length > MaxControlBody)) {
        reason = "not a request";
        co_return false;
    }
    control.resize(length);
    if (!error) co_await ReadExactly(asio::buffer(control), error);
    if (error) {
        reason = "disconnected";
        co_return false;
    }
    if (length == 1 && control[0] == 0) {
        control.clear();
        co_return true;
    }
    if (control[0] == MonControlKind.m_Byte && !m_pDesk) {
        reason = "sent a control request on a link that takes none";
        co_return false;
    }
    reason = "not a request";
    co_return control[0] == MonControlKind.m_Byte;
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
        const auto piece = asio::buffer(batch.data() + at, length);
        if (m_Tls) {
            co_await asio::async_write(*m_Tls, piece, NoThrow(error));
        } else {
            co_await asio::async_write(m_Socket, piece, NoThrow(error));
        }
    }
    m_bWriting = false;
    co_return !error;
}

// The answer goes out as a batch does, within the same time-outs. One
// co_return after the co_await: GCC 12 built the early-return form so that
// the frame lost its reference to `reason` (the process crashed at the first
// control request).
awaitable<bool> MonitorClient::Answer(const MonBytes& request, MonBytes& framed,
                                      std::string& reason) {
    const bool read = m_pDesk->Answer(request.data(), request.size(), framed);
    const bool written = read && co_await WriteBatch(framed);
    if (!written) reason = read ? "disconnected" : "sent a control request that cannot be read";
    co_return written;
}

awaitable<void> MonitorClient::Run(std::shared_ptr<MonitorClient> /*keepAlive*/) {
    const std::string who = "monitor client " + EndpointText(m_Endpoint);
    if (m_pTls && !co_await StartTls(who)) {
        std::error_code ignored;
        m_Socket.close(ignored);
        m_Watchdog.Stop();
        co_return;
    }
    m_bSecured = true;
    m_Context.m_Log.Connection(who + " connected" + LinkNote());
    const std::shared_ptr<MonitorHub::Feed> feed = m_Context.m_Hub.Attach();
    if (m_Tls && MonTlsServer::TakesControl(m_Tls->native_handle())) {
        m_pDesk = std::make_unique<ControlDesk>(m_Context.m_pControl, m_Context.m_Log, m_Peer,
                                                EndpointText(m_Endpoint));
    }
    MonBytes batch, control;
    std::string reason;
    while (co_await NextRequest(control, reason)) {
        m_LastRequest = Clock::now();
        if (!control.empty()) {
            if (!co_await Answer(control, batch, reason)) break;
            continue;
        }
        m_bAsked = true;
        if (m_Context.m_BeforeBatch) m_Context.m_BeforeBatch();
        if (!m_Context.m_Hub.TakeBatch(*feed, batch, m_Version)) {
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
