#include "MonitorTls.h"

#include <openssl/ssl.h>

#include "ProxyOptions.h"

bool MonitorTls::Load(const ProxyOptions& options, std::string& error) {
    if (!m_Server.Load(options.m_MonitorTlsCert, options.m_MonitorTlsKey, options.m_MonitorClients,
                       error)) {
        return false;
    }
    SSL_CTX_up_ref(m_Server.Context());
    m_Context.emplace(m_Server.Context());
    return true;
}
