#include "ProxyServer.h"

#include "ProxySession.h"

ProxyServer::ProxyServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket) {
              m_Context.m_Active.fetch_add(1, std::memory_order_relaxed);
              ProxySession::Start(std::make_shared<ProxySession>(m_Context, std::move(socket)));
          }) {}

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
