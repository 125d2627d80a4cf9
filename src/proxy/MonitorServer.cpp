#include "MonitorServer.h"

#include "MonitorClient.h"

MonitorServer::MonitorServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket) {
              MonitorClient::Start(std::make_shared<MonitorClient>(m_Context, std::move(socket)));
          }) {}

bool MonitorServer::Admit(const tcp::endpoint& client) {
    if (IsAllowed(m_Context.m_Options.m_MonitorAllow, client.address())) return true;
    m_Context.m_Log.Connection("monitor client " + EndpointText(client) +
                               " refused: not in --monitor-allow");
    return false;
}
