#include "ProxySettings.h"

std::shared_ptr<const MonitorSettings> MonitorSettingsOf(const ProxySettings& settings) {
    const ProxyOptions& options = settings.m_Options;
    auto monitor = std::make_shared<MonitorSettings>();
    monitor->m_Allow = options.m_MonitorAllow;
    monitor->m_MaxClients = options.m_MaxMonitorClients;
    monitor->m_MaxPerClient = options.m_MaxMonitorPerClient;
    monitor->m_HandshakeTimeout = std::chrono::seconds(options.m_HandshakeTimeout);
    monitor->m_IdleTimeout = std::chrono::seconds(options.m_IdleTimeout);
    monitor->m_pTls = settings.m_pMonitorTls;
    return monitor;
}
