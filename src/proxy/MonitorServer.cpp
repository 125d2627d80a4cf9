#include "MonitorServer.h"

#include "MonitorClient.h"

MonitorServer::MonitorServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket, const tcp::endpoint& client) {
              MonitorClient::Start(
                  std::make_shared<MonitorClient>(m_Context, std::move(socket), client));
          }) {}

bool MonitorServer::Admit(const tcp::endpoint& client) {
    const std::shared_ptr<const ProxySettings> settings = m_Context.Settings();
    if (!IsAllowed(settings->m_Options.m_MonitorAllow, client.address())) {
        m_Context.m_Refusals.Refused("monitor client ", client, "not in --monitor-allow");
        return false;
    }
    const size_t limit = settings->m_Options.m_MaxMonitorClients;
    if (m_Context.m_MonitorClients.load() >= limit) {
        m_Context.m_Refusals.Refused(
            "monitor client ", client,
            std::to_string(limit) + " monitor clients already connected (--max-monitor-clients)");
        return false;
    }
    const size_t perClient = settings->m_Options.m_MaxMonitorPerClient;
    if (m_Context.m_MonitorLimits.Enter(ToAddress16(client.address()), perClient, perClient) !=
        ClientLimits::Verdict::Admitted) {
        m_Context.m_Refusals.Refused("monitor client ", client,
                                     std::to_string(perClient) +
                                         " monitor clients from this address already connected "
                                         "(--max-monitor-per-client)");
        return false;
    }
    return true;
}
