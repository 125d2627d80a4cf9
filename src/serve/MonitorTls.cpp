#include "MonitorTls.h"

#include <openssl/ssl.h>

bool MonitorTls::Load(const std::string& cert, const std::string& key, const std::string& clients,
                      std::string& error) {
    // Every client of the serving code answers control requests, if only
    // with a refusal; the demo monitor's does not, and never offers them.
    if (!m_Server.Load(cert, key, clients, error, true)) return false;
    SSL_CTX_up_ref(m_Server.Context());
    m_Context.emplace(m_Server.Context());
    return true;
}
