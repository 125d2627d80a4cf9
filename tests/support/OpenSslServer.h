#pragma once
// A real TLS peer for tests: `openssl s_server` on a free port of a random
// loopback address 127.x.y.z, with a certificate and key from one PEM file
// and the options given (-alpn, -Verify, -tls1_1...). Whatever Send gets goes
// to the connected client through the server's standard input.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/RecordEncoder.h"

class OpenSslServer {
public:
    // Returns once the server accepts connections; throws when it does not.
    OpenSslServer(const std::string& pemPath, const std::vector<std::string>& options);
    ~OpenSslServer();  // ends the server
    OpenSslServer(const OpenSslServer&) = delete;
    OpenSslServer& operator=(const OpenSslServer&) = delete;

    const std::string& Host() const { return m_Host; }
    uint16_t Port() const { return m_Port; }
    // "127.x.y.z:port", as a host form takes it.
    std::string HostPort() const { return m_Host + ":" + std::to_string(m_Port); }
    void Send(const MonBytes& bytes);

private:
    void PickAddress();
    void Stop();
    bool Accepts() const;

    std::string m_Host;
    uint16_t m_Port = 0;
    pid_t m_Pid = -1;
    int m_Stdin = -1;
};
