#include "MonitorTls.h"

#include <openssl/ssl.h>

bool MonitorTls::Load(const std::string& cert, const std::string& key, const std::string& clients,
                      std::string& error) {
    if (!m_Server.Load(cert, key, clients, error)) return false;
    SSL_CTX_up_ref(m_Server.Context());
    m_Context.emplace(m_Server.Context());
    return true;
}
