#pragma once
// The client side of TLS on the monitor link (OpenSSL). A tls:// session
// connects as over plain TCP, then speaks TLS 1.2 or 1.3 on the socket with
// its own identity as client certificate, offering ALPN "vgl-monitor/2"
// then "vgl-monitor/1"; the monitor's certificate is checked against its
// pinned fingerprint, never against certificate authorities. After that the
// transport's sends and receives go through TLS, so the stream above does not
// change. The link's state is kept with the socket and freed by Mon_TcpClose.

#include <cstdint>
#include <string>

#include "core/monitor/MonTcp.h"

// ALPN names of the two versions of the records.
constexpr char MonAlpnVersion1[] = "vgl-monitor/1";
constexpr char MonAlpnVersion2[] = "vgl-monitor/2";
// Version 2 and control requests between polls (see MonControl.h).
constexpr char MonAlpnControl[] = "vgl-monitor/2.1";

// Where the client keeps its identity and the monitors it trusts; set once by
// the program (and by tests) before the first tls:// connect.
struct MonTlsSettings {
    std::string m_IdentityPath;       // key and certificate, one PEM file
    std::string m_KnownMonitorsPath;  // see MonKnownMonitors
};
void Mon_TlsSetSettings(const MonTlsSettings& settings);
MonTlsSettings Mon_TlsGetSettings();

// Why a connect was refused for the sake of the link's safety.
enum class MonTrustFailure {
    None,
    Unknown,         // the monitor's identity is not pinned yet: ask the user
    Changed,         // it presented another certificate than the pinned one
    PlainRefused,    // a monitor pinned for TLS was asked for in plain text
    IdentityUnsafe,  // the client's own identity could not be used (m_Detail says why)
    Handshake,       // the TLS handshake failed (m_Detail: OpenSSL's reason)
};

struct MonTrustProblem {
    MonTrustFailure m_Kind = MonTrustFailure::None;
    std::string m_MonitorKey;  // Mon_MonitorKey of the monitor asked for
    std::string m_Known;       // the pinned fingerprint, when there is one
    std::string m_Presented;   // the one the monitor presented
    std::string m_Detail;
};
// The message for the user (names both fingerprints for Changed).
std::string Mon_TrustProblemText(const MonTrustProblem& problem);

// The problem behind this thread's last failed Mon_Open (None after one that
// succeeded or failed for another reason).
MonTrustProblem Mon_TlsLastProblem();

// What a connected socket's link is.
struct MonLinkInfo {
    bool m_bEncrypted = false;
    bool m_bTunnel = false;   // through ssh
    int m_Version = 1;        // of the records, as negotiated
    bool m_bControl = false;  // the monitor takes control requests (ALPN "vgl-monitor/2.1")
    std::string m_Fingerprint;  // the monitor's, over TLS
};
MonLinkInfo Mon_TcpLinkInfo(MonSocket s);

// Starts TLS on a connected socket toward the monitor `form` names and checks
// its identity; 0, or -1 with the error code and text set (and the trust
// problem kept for Mon_TlsLastProblem). The socket's receive time-out and
// deadline hold for the handshake.
struct MonHostForm;
int32_t Mon_TlsStart(MonSocket s, const MonHostForm& form, int32_t* errorCode, char* errorText);
