#include "ProxyServer.h"

#include <ctime>

#include "ProxySession.h"
#include "SocksReply.h"

ProxyServer::ProxyServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket, const tcp::endpoint& client) {
              m_Context.m_Active.fetch_add(1, std::memory_order_relaxed);
              ProxySession::Start(
                  std::make_shared<ProxySession>(m_Context, std::move(socket), client));
          }) {}

bool ProxyServer::Admit(const tcp::endpoint& client) {
    const std::shared_ptr<const ProxySettings> settings = m_Context.Settings();
    const ProxyOptions& options = settings->m_Options;
    if (!IsAllowed(options.m_Allow, client.address())) {
        Refuse(client, ReplyNotAllowed, "not in --allow");
        return false;
    }
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    if (const auto block = m_Context.m_Blocks.Client(ToAddress16(client.address()), now)) {
        const std::string text = BlockedText(*block);
        Report(client, RefusedBy::ClientBlock, ReplyNotAllowed, text, text);
        return false;
    }
    // Handshakes have a budget of their own (--max-handshakes): a full one
    // makes room, it never turns a client away.
    if (m_Context.m_Established.load(std::memory_order_relaxed) >= options.m_MaxConnections) {
        Refuse(client, ResultRefusedByLimit,
               std::to_string(options.m_MaxConnections) +
                   " connections already open (--max-connections)");
        return false;
    }
    switch (m_Context.m_Limits.Enter(ToAddress16(client.address()), options.m_MaxPerClient,
                                     options.m_MaxHandshakesPerClient)) {
        case ClientLimits::Verdict::Admitted:
            return true;
        case ClientLimits::Verdict::TooManyConnections:
            Refuse(client, ResultRefusedByLimit,
                   std::to_string(options.m_MaxPerClient) +
                       " connections from this address already open (--max-per-client)");
            return false;
        case ClientLimits::Verdict::TooManyHandshakes:
            Refuse(client, ResultRefusedByLimit,
                   std::to_string(options.m_MaxHandshakesPerClient) +
                       " handshakes from this address in progress (--max-handshakes-per-client)");
            return false;
    }
    return false;
}

void ProxyServer::Refuse(const tcp::endpoint& client, uint32_t code, const std::string& why) {
    Report(client, code == ReplyNotAllowed ? RefusedBy::Allow : RefusedBy::Limit, code, why,
           "refused: " + why);
}

void ProxyServer::Report(const tcp::endpoint& client, RefusedBy by, uint32_t code,
                         const std::string& why, const std::string& text) {
    m_Context.m_Metrics.Refused(by);
    m_Context.m_Refusals.Refused("", client, why);
    if (!m_Context.m_Limits.ShouldReport(ToAddress16(client.address()))) return;
    ReportRefusal(m_Context, client, 0, "", code, text);
}
