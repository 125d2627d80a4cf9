#pragma once
// One client of the monitor. Its writes wait on their own, so however slowly
// it reads, it holds up only itself.

#include <memory>
#include <optional>

#include "Asio.h"
#include "ControlDesk.h"
#include "MonitorContext.h"
#include "MonitorHub.h"
#include "MonitorTls.h"
#include "Watchdog.h"

class MonitorClient : public std::enable_shared_from_this<MonitorClient> {
public:
    // `endpoint`: the client's address as it was admitted (and counted by the limits).
    MonitorClient(MonitorContext& context, tcp::socket socket, const tcp::endpoint& endpoint);
    ~MonitorClient();
    static void Start(std::shared_ptr<MonitorClient> client);

private:
    // The coroutines hold the client alive through their parameter.
    awaitable<void> Run(std::shared_ptr<MonitorClient> self);
    awaitable<void> Watch(std::shared_ptr<MonitorClient> self);
    // Over TLS when the settings ask for it; false when the client was turned away.
    awaitable<bool> StartTls(const std::string& who);
    void ReportHandshakeFailure(const std::string& who, const std::error_code& error);
    void Counted(MonitorRefusal reason) const;
    std::string LinkNote() const;
    template <class Buffer>
    awaitable<void> ReadExactly(const Buffer& buffer, std::error_code& error);
    awaitable<bool> NextRequest(MonBytes& control, std::string& reason);
    awaitable<bool> WriteBatch(const MonBytes& batch);
    // The first request and each piece of a batch's write get the handshake
    // time-out; the time between requests, the idle limit.
    Clock::time_point Deadline() const;
    void OnExpire();

    MonitorContext& m_Context;
    const std::shared_ptr<const MonitorSettings> m_pSettings;
    tcp::socket m_Socket;
    const std::shared_ptr<const MonitorTls> m_pTls;  // null: plain TCP
    std::optional<asio::ssl::stream<tcp::socket&>> m_Tls;
    MonTlsPeer m_Peer;
    std::unique_ptr<ControlDesk> m_pDesk;  // on a link that chose control
    int m_Version = 1;  // of the records, as negotiated
    Watchdog m_Watchdog;
    tcp::endpoint m_Endpoint;
    Clock::time_point m_LastRequest;
    Clock::time_point m_WriteStart;  // of the piece being written
    const std::chrono::seconds m_HandshakeLimit;
    const std::chrono::seconds m_IdleLimit;
    bool m_bAsked = false;
    bool m_bWriting = false;
    bool m_bSecured = false;  // past the TLS handshake, or plain
    std::string m_Expired;    // why the deadline closed it; empty when it did not
};
