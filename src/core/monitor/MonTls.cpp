#include "core/monitor/MonTls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonKnownMonitors.h"
#include "core/monitor/MonTcpLink.h"

namespace {

constexpr int32_t WsaEAcces = 10013;  // every refusal for the link's safety
// ALPN's wire form: each name after its length byte, the preferred first.
constexpr unsigned char AlpnOffer[] = "\x0fvgl-monitor/2.1\x0dvgl-monitor/2\x0dvgl-monitor/1";
static_assert(sizeof MonAlpnControl - 1 == 0x0f && sizeof MonAlpnVersion2 - 1 == 0x0d &&
              sizeof MonAlpnVersion1 - 1 == 0x0d);

std::mutex g_Mutex;
MonTlsSettings g_Settings;
thread_local MonTrustProblem t_Problem;
thread_local std::string t_OpenFailureText;

// A socket BIO that sends with MSG_NOSIGNAL: OpenSSL's own writes with
// write(), and a monitor that goes away mid-write would end the process
// with SIGPIPE.
int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    const auto fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    const ssize_t sent = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(sent);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    const auto fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    const ssize_t got = ::recv(fd, data, static_cast<size_t>(size), 0);
    if (got == 0) {
        BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(got);
}

long BioControl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0;
        default:
            return 0;
    }
}

const BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vgl socket");
        if (made != nullptr) {
            BIO_meth_set_write(made, BioWrite);
            BIO_meth_set_read(made, BioRead);
            BIO_meth_set_ctrl(made, BioControl);
        }
        return made;
    }();
    return method;
}

BIO* NewSocketBio(MonSocket s) {
    const BIO_METHOD* method = SocketBioMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (bio != nullptr) {
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(s)));
        BIO_set_init(bio, 1);
    }
    return bio;
}

std::string OpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "the monitor ended the connection";
}

// One context per identity file, made again when the file is replaced.
struct CachedContext {
    SSL_CTX* m_pContext = nullptr;
    ino_t m_Inode = 0;
    timespec m_Changed{};
};
// Under g_Mutex. Never destroyed: sessions may still be closing on their
// threads while the process ends.
auto* const g_Contexts = new std::map<std::string, CachedContext>;

SSL_CTX* MakeContext(const std::string& identityPath, std::string& error) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    // The certificate is checked against its pin once the handshake is
    // over, never against authorities: verification is off on purpose.
    const bool made =
        context != nullptr && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
        SSL_CTX_use_certificate_chain_file(context, identityPath.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(context, identityPath.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(context) == 1 &&
        SSL_CTX_set_alpn_protos(context, AlpnOffer, sizeof AlpnOffer - 1) == 0;
    if (!made) {
        error = "The identity " + identityPath + " cannot be used: " + OpenSslReason();
        SSL_CTX_free(context);
        return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    return context;
}

// A reference to the context of the identity (made on first use), or null
// with the message.
SSL_CTX* ContextFor(const std::string& identityPath, std::string& error) {
    if (identityPath.empty()) {
        error = "No identity file is set for TLS connections.";
        return nullptr;
    }
    std::string fingerprint;
    if (!Mon_LoadOrMakeClientIdentity(identityPath, fingerprint, error)) return nullptr;
    struct stat status {};
    if (::stat(identityPath.c_str(), &status) != 0) {
        error = "Cannot read " + identityPath + ": " + std::strerror(errno);
        return nullptr;
    }
    std::lock_guard lock(g_Mutex);
    CachedContext& cached = (*g_Contexts)[identityPath];
    const bool same = cached.m_pContext != nullptr && cached.m_Inode == status.st_ino &&
                      cached.m_Changed.tv_sec == status.st_mtim.tv_sec &&
                      cached.m_Changed.tv_nsec == status.st_mtim.tv_nsec;
    if (!same) {
        SSL_CTX* fresh = MakeContext(identityPath, error);
        if (fresh == nullptr) return nullptr;
        SSL_CTX_free(cached.m_pContext);  // sessions still using it hold their own reference
        cached = {fresh, status.st_ino, status.st_mtim};
    }
    SSL_CTX_up_ref(cached.m_pContext);
    return cached.m_pContext;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// A TLS session on the socket, not yet started; null with the message.
SSL* NewSession(MonSocket s, const MonHostForm& form, std::string& error) {
    SSL_CTX* context = ContextFor(Mon_TlsGetSettings().m_IdentityPath, error);
    if (context == nullptr) return nullptr;
    SSL* ssl = SSL_new(context);
    SSL_CTX_free(context);
    BIO* bio = ssl ? NewSocketBio(s) : nullptr;
    if (bio == nullptr) {
        error = "No memory for a TLS session.";
        SSL_free(ssl);
        return nullptr;
    }
    SSL_set_bio(ssl, bio, bio);
    // The name lets a monitor behind one address choose its certificate.
    if (!IsAddressLiteral(form.m_Host)) SSL_set_tlsext_host_name(ssl, form.m_Host.c_str());
    return ssl;
}

bool MakeNonBlocking(MonSocket s) {
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The handshake, waiting as a receive does; false with the problem's detail
// and the transport's last error set.
bool Handshake(MonSocket s, SSL* ssl, MonTrustProblem& problem) {
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl);
        if (result == 1) return true;
        const int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (Mon_TcpWait(s, error == SSL_ERROR_WANT_WRITE)) continue;
            char text[128] = "";
            Mon_TcpError(nullptr, text);
            problem.m_Detail = text;
            return false;
        }
        problem.m_Detail = OpenSslReason();
        Mon_TcpSetLastError(WsaEAcces);
        return false;
    }
}

std::string PeerFingerprint(SSL* ssl) {
    X509* certificate = SSL_get1_peer_certificate(ssl);
    unsigned char* der = nullptr;
    const int length = certificate ? i2d_X509(certificate, &der) : -1;
    std::string fingerprint;
    if (length > 0) fingerprint = Mon_FingerprintOfDer(der, static_cast<size_t>(length));
    OPENSSL_free(der);
    X509_free(certificate);
    return fingerprint;
}

bool Chose(SSL* ssl, const char* protocol) {
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl, &name, &length);
    return length == std::strlen(protocol) && std::memcmp(name, protocol, length) == 0;
}

int NegotiatedVersion(SSL* ssl) {
    return Chose(ssl, MonAlpnVersion2) || Chose(ssl, MonAlpnControl) ? 2 : 1;
}

// What the pin says of the presented fingerprint.
MonTrustFailure CheckPin(MonTrustProblem& problem) {
    problem.m_Known =
        MonKnownMonitors(Mon_TlsGetSettings().m_KnownMonitorsPath).Find(problem.m_MonitorKey);
    if (problem.m_Known.empty()) return MonTrustFailure::Unknown;
    return problem.m_Known == problem.m_Presented ? MonTrustFailure::None
                                                  : MonTrustFailure::Changed;
}

int32_t Refuse(const MonTrustProblem& problem, int32_t* errorCode, char* errorText) {
    Mon_TlsSetLastProblem(problem);
    Mon_TcpError(errorCode, errorText);
    return -1;
}

}  // namespace

void Mon_TlsSetSettings(const MonTlsSettings& settings) {
    std::lock_guard lock(g_Mutex);
    g_Settings = settings;
}

MonTlsSettings Mon_TlsGetSettings() {
    std::lock_guard lock(g_Mutex);
    return g_Settings;
}

std::string Mon_TrustProblemText(const MonTrustProblem& problem) {
    const std::string& key = problem.m_MonitorKey;
    switch (problem.m_Kind) {
        case MonTrustFailure::None:
            return {};
        case MonTrustFailure::Unknown:
            return "The identity of monitor " + key + " is not known yet: it presented " +
                   problem.m_Presented + ".";
        case MonTrustFailure::Changed:
            return "The identity of monitor " + key + " has changed: it was " + problem.m_Known +
                   ", it is now " + problem.m_Presented + ". Connection refused.";
        case MonTrustFailure::PlainRefused:
            return "Monitor " + key + " was seen with TLS; it is not accepted in plain text.";
        case MonTrustFailure::IdentityUnsafe:
            return problem.m_Detail;
        case MonTrustFailure::Handshake:
            return "TLS handshake with " + key + " failed: " + problem.m_Detail;
    }
    return problem.m_Detail;
}

std::string Mon_TlsLinkFailureText(MonSocket s) {
    const std::string reason = Mon_TcpTlsFailure(s);
    if (reason.empty()) return {};
    std::string text = "The monitor ended the TLS link: " + reason + ".";
    std::string fingerprint, error;
    if (Mon_CertificateFingerprint(Mon_TlsGetSettings().m_IdentityPath, fingerprint, error)) {
        text += " A monitor that lists its clients must list this one: " + fingerprint + ".";
    }
    return text;
}

MonTrustProblem Mon_TlsLastProblem() {
    return t_Problem;
}

void Mon_TlsSetLastProblem(const MonTrustProblem& problem) {
    t_Problem = problem;
}

std::string Mon_OpenFailureText() {
    return t_OpenFailureText;
}

void Mon_SetOpenFailureText(const std::string& text) {
    t_OpenFailureText = text;
}

int32_t Mon_TlsStart(MonSocket s, const MonHostForm& form, int32_t* errorCode, char* errorText) {
    MonTrustProblem problem;
    problem.m_MonitorKey = Mon_MonitorKey(form);
    Mon_TcpSetLastError(WsaEAcces);
    SSL* ssl = NewSession(s, form, problem.m_Detail);
    if (ssl == nullptr) {
        problem.m_Kind = MonTrustFailure::IdentityUnsafe;
        return Refuse(problem, errorCode, errorText);
    }
    if (!MakeNonBlocking(s) || !Handshake(s, ssl, problem)) {
        if (problem.m_Detail.empty()) problem.m_Detail = std::strerror(errno);
        problem.m_Kind = MonTrustFailure::Handshake;
        SSL_free(ssl);  // after a failed handshake no close_notify is due
        return Refuse(problem, errorCode, errorText);
    }
    problem.m_Presented = PeerFingerprint(ssl);
    problem.m_Kind = problem.m_Presented.empty() ? MonTrustFailure::Handshake : CheckPin(problem);
    if (problem.m_Kind == MonTrustFailure::Handshake) {
        problem.m_Detail = "the monitor presented no certificate";
    }
    if (problem.m_Kind != MonTrustFailure::None) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
        Mon_TcpSetLastError(WsaEAcces);
        return Refuse(problem, errorCode, errorText);
    }
    if (!Mon_TcpAttachTls(s, ssl, NegotiatedVersion(ssl), Chose(ssl, MonAlpnControl),
                          problem.m_Presented)) {
        SSL_free(ssl);
        return Refuse({}, errorCode, errorText);
    }
    Mon_TlsSetLastProblem({});
    return 0;
}
