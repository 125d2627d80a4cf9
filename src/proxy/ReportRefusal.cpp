#include <ctime>

#include "ProxyContext.h"

void ReportRefusal(ProxyContext& context, const tcp::endpoint& client, uint8_t method,
                   const std::string& user, uint32_t code, const std::string& text) {
    auto info = std::make_shared<ConnectionInfo>();
    info->m_Id = context.m_NextId.fetch_add(1, std::memory_order_relaxed);
    info->m_StartTime = static_cast<uint32_t>(std::time(nullptr));
    info->m_Method = method;
    info->m_User = user;
    info->m_Source = MonitorAddress(client);
    info->m_SourceName = HostText(client.address());
    info->m_ResultCode = code;
    info->m_ResultText = text;
    context.m_Hub.Open(info);
    context.m_Hub.Result(info);
    context.m_Hub.Close(info);
}
