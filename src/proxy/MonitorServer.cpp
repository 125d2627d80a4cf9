#include "MonitorServer.h"

#include "MonitorClient.h"

MonitorServer::MonitorServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket, const tcp::endpoint&) {
              MonitorClient::Start(std::make_shared<MonitorClient>(m_Context, std::move(socket)));
          }) {}

bool MonitorServer::Admit(const tcp::endpoint& client) {
    const std::shared_ptr<const ProxySettings> settings = m_Context.Settings();
    const ProxyOptions& options = settings->m_Options;
    return AdmitWatcher(m_Context.m_Log, "monitor", client, options.m_MonitorAllow,
                        m_Context.m_MonitorClients.load(), options.m_MaxMonitorClients);
}
