#pragma once
// The monitor's side of TLS (OpenSSL), for every program that serves records:
// a context from the monitor's certificate and key that speaks TLS 1.2 or 1.3
// only, asks every client for a certificate and admits it by the fingerprint
// of that certificate alone (the clients file, see MonClientKeys): there are
// no certificate authorities on this link. An unlisted client fails the
// handshake with an alert. ALPN picks the version of the records:
// "vgl-monitor/2.1" (version 2 and control requests, for a server that
// takes them) or "vgl-monitor/2" when the client offers it, else version 1.

#include <string>

#include "core/monitor/MonClientKeys.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

// What the handshake of one connection learnt of its client.
struct MonTlsPeer {
    std::string m_Fingerprint;  // of the client's certificate; empty when it sent none
    std::string m_Name;         // the clients file's name for it
    bool m_bMayAct = false;     // its line is marked "act"
    bool m_bRefused = false;    // it sent a certificate that is not listed
};

class MonTlsServer {
public:
    MonTlsServer() = default;
    ~MonTlsServer();
    MonTlsServer(const MonTlsServer&) = delete;
    MonTlsServer& operator=(const MonTlsServer&) = delete;

    // Once; false with a message naming the file that did not load.
    // `control`: ALPN may choose "vgl-monitor/2.1", for a server that answers
    // control requests; one that does not must never be chosen for it.
    bool Load(const std::string& certPath, const std::string& keyPath,
              const std::string& clientsPath, std::string& error, bool control = false);
    // Shared by the connections; each SSL made from it holds a reference.
    SSL_CTX* Context() const { return m_Context; }
    const std::string& Fingerprint() const { return m_Fingerprint; }
    size_t ClientCount() const { return m_Clients.Size(); }

    // Before the handshake of a connection made from Context(): where it
    // notes what it saw of the client. `peer` must outlive the handshake.
    static void Watch(SSL* ssl, MonTlsPeer* peer);
    // After the handshake: 2 when ALPN chose "vgl-monitor/2" or
    // "vgl-monitor/2.1", else 1.
    static int Version(const SSL* ssl);
    // After the handshake: ALPN chose "vgl-monitor/2.1", so the client may
    // send control requests between polls.
    static bool TakesControl(const SSL* ssl);
    // OpenSSL's reason for the last failure on this thread (and clears the queue).
    static std::string LastReason();

private:
    static int Verify(int preverified, struct x509_store_ctx_st* store);
    bool Admit(const std::string& fingerprint, MonTlsPeer* peer) const;

    SSL_CTX* m_Context = nullptr;
    MonClientKeys m_Clients;
    std::string m_Fingerprint;
};
