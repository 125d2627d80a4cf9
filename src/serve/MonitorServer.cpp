#include "MonitorServer.h"

#include "MonitorClient.h"

MonitorServer::MonitorServer(IoPool& pool, MonitorContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket, const tcp::endpoint& client) {
              MonitorClient::Start(
                  std::make_shared<MonitorClient>(m_Context, std::move(socket), client));
          }) {}

bool MonitorServer::Admit(const tcp::endpoint& client) {
    const std::shared_ptr<const MonitorSettings> settings = m_Context.Settings();
    if (!AdmitWatcher(m_Context.m_Refusals, "monitor", client, settings->m_Allow,
                      m_Context.m_Clients.load(), settings->m_MaxClients)) {
        return false;
    }
    const size_t perClient = settings->m_MaxPerClient;
    if (m_Context.m_Limits.Enter(ToAddress16(client.address()), perClient, perClient) !=
        ClientLimits::Verdict::Admitted) {
        m_Context.m_Refusals.Refused("monitor client ", client,
                                     std::to_string(perClient) +
                                         " monitor clients from this address already connected "
                                         "(--max-monitor-per-client)");
        return false;
    }
    return true;
}
