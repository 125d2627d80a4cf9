#include "core/monitor/MonTlsServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstring>

#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonTls.h"

namespace {

// Where the context finds its server and a connection its peer's notes;
// indexes of their own, since Asio keeps its callbacks in the app data.
int ServerIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int PeerIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The ALPN list in wire form, in the order of preference.
std::string ServerProtocols(bool control) {
    std::string list;
    for (const char* name : {MonAlpnControl, MonAlpnVersion2, MonAlpnVersion1}) {
        if (name == MonAlpnControl && !control) continue;
        list += static_cast<char>(std::strlen(name));
        list += name;
    }
    return list;
}

// `arg` is set for a server that takes control requests.
int SelectProtocol(SSL* /*ssl*/, const unsigned char** out, unsigned char* outLength,
                   const unsigned char* offered, unsigned int offeredLength, void* arg) {
    static const std::string withControl = ServerProtocols(true);
    static const std::string recordsOnly = ServerProtocols(false);
    const std::string& ours = arg ? withControl : recordsOnly;
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength,
                              reinterpret_cast<const unsigned char*>(ours.data()),
                              static_cast<unsigned int>(ours.size()), offered,
                              offeredLength) != OPENSSL_NPN_NEGOTIATED) {
        // A client that offers neither gets version 1, as one that offers nothing.
        return SSL_TLSEXT_ERR_NOACK;
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

std::string FingerprintOf(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    if (length <= 0) return {};
    std::string fingerprint = Mon_FingerprintOfDer(der, static_cast<size_t>(length));
    OPENSSL_free(der);
    return fingerprint;
}

}  // namespace

MonTlsServer::~MonTlsServer() {
    SSL_CTX_free(m_Context);
}

std::string MonTlsServer::LastReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no reason given";
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : "error " + std::to_string(code);
}

bool MonTlsServer::Load(const std::string& certPath, const std::string& keyPath,
                        const std::string& clientsPath, std::string& error, bool control) {
    if (!m_Clients.Load(clientsPath, error)) return false;
    m_Context = SSL_CTX_new(TLS_server_method());
    if (!m_Context || !SSL_CTX_set_min_proto_version(m_Context, TLS1_2_VERSION)) {
        error = "cannot set up TLS: " + LastReason();
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(m_Context, certPath.c_str()) != 1) {
        error = certPath + ": cannot load the certificate: " + LastReason();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(m_Context, keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = keyPath + ": cannot load the key: " + LastReason();
        return false;
    }
    if (SSL_CTX_check_private_key(m_Context) != 1) {
        error = keyPath + ": the key does not belong to the certificate " + certPath;
        return false;
    }
    if (!Mon_CertificateFingerprint(certPath, m_Fingerprint, error)) return false;
    SSL_CTX_set_ex_data(m_Context, ServerIndex(), this);
    SSL_CTX_set_verify(m_Context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, Verify);
    SSL_CTX_set_alpn_select_cb(m_Context, SelectProtocol, control ? this : nullptr);
    // A resumed session skips the check of the certificate: each connection
    // is checked against the clients file as it stands.
    SSL_CTX_set_session_cache_mode(m_Context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(m_Context, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(m_Context, 0);
    return true;
}

void MonTlsServer::Watch(SSL* ssl, MonTlsPeer* peer) {
    SSL_set_ex_data(ssl, PeerIndex(), peer);
}

namespace {

bool Chose(const SSL* ssl, const char* protocol) {
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl, &name, &length);
    const size_t ours = std::strlen(protocol);
    return name && length == ours && std::memcmp(name, protocol, ours) == 0;
}

}  // namespace

int MonTlsServer::Version(const SSL* ssl) {
    return Chose(ssl, MonAlpnVersion2) || Chose(ssl, MonAlpnControl) ? 2 : 1;
}

bool MonTlsServer::TakesControl(const SSL* ssl) {
    return Chose(ssl, MonAlpnControl);
}

// Self-signed certificates fail OpenSSL's own checks by design; the
// fingerprint of the client's own certificate (depth 0) decides instead.
int MonTlsServer::Verify(int /*preverified*/, x509_store_ctx_st* store) {
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const auto* server =
        static_cast<const MonTlsServer*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ServerIndex()));
    auto* peer = static_cast<MonTlsPeer*>(SSL_get_ex_data(ssl, PeerIndex()));
    const std::string fingerprint = FingerprintOf(X509_STORE_CTX_get_current_cert(store));
    if (server && server->Admit(fingerprint, peer)) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

bool MonTlsServer::Admit(const std::string& fingerprint, MonTlsPeer* peer) const {
    std::string name;
    bool mayAct = false;
    const bool listed = !fingerprint.empty() && m_Clients.Find(fingerprint, name, &mayAct);
    if (peer) {
        peer->m_Fingerprint = fingerprint;
        peer->m_Name = name;
        peer->m_bMayAct = listed && mayAct;
        peer->m_bRefused = !listed;
    }
    return listed;
}
