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
    const ProxyOptions& options = settings->m_Options;
    if (!AdmitWatcher(m_Context.m_Refusals, "monitor", client, options.m_MonitorAllow,
                      m_Context.m_MonitorClients.load(), options.m_MaxMonitorClients)) {
        return false;
    }
    const size_t perClient = options.m_MaxMonitorPerClient;
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
