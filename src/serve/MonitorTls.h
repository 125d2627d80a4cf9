#pragma once
// TLS on the monitor's port, as the settings name it: the monitor's identity
// and the clients allowed to read its records, in an Asio context that each
// monitor client's stream is made from. A reload loads a new one; a client
// keeps the one it started with.

#include <asio/ssl.hpp>
#include <memory>
#include <optional>
#include <string>

#include "core/monitor/MonTlsServer.h"

class MonitorTls {
public:
    // False with a message when the certificate, the key or the clients file does not load.
    // `clients`: the file of fingerprints allowed to connect.
    bool Load(const std::string& cert, const std::string& key, const std::string& clients,
              std::string& error);
    asio::ssl::context& Context() const { return *m_Context; }
    const MonTlsServer& Server() const { return m_Server; }

private:
    MonTlsServer m_Server;
    // Asio's wrapper of the server's context (it holds a reference of its own);
    // streams need it mutable, though nothing changes it after the load.
    mutable std::optional<asio::ssl::context> m_Context;
};
