#pragma once
// What the transport keeps of a socket's link beside its read-ahead buffer,
// for the TLS and ssh routes of Mon_Open: the socket's TLS session (its sends
// and receives then go through it), the negotiated version and the monitor's
// fingerprint, and the ssh tunnel the socket runs through. Mon_TcpClose ends
// them all with the socket.

#include <memory>
#include <string>

#include "core/monitor/MonTcp.h"
#include "core/monitor/MonTls.h"

class MonSshTunnel;
struct ssl_st;

// Hands the TLS session over to the socket (which must be non-blocking by
// now). False, the session then still the caller's, with last error 10055
// when there is no memory for the socket's state.
bool Mon_TcpAttachTls(MonSocket s, ssl_st* ssl, int version, bool control,
                      const std::string& fingerprint);
// Hands the tunnel over to the socket; false (the tunnel then ended) as above.
bool Mon_TcpAttachTunnel(MonSocket s, std::unique_ptr<MonSshTunnel> tunnel);

// Waits for the socket to be readable (or writable) as a receive waits:
// within the receive time-out and the socket's deadline, woken by
// Mon_TcpCancel. False with the last error set (10060 on a time-out).
bool Mon_TcpWait(MonSocket s, bool forWrite);

// Why TLS failed on the socket after its handshake, as OpenSSL says it (a
// monitor that refuses the client's certificate says so only then under TLS
// 1.3); empty when it did not.
std::string Mon_TcpTlsFailure(MonSocket s);
// The message for the user of such a failure; empty when there was none.
std::string Mon_TlsLinkFailureText(MonSocket s);

// Shows the socket to this thread's connect watcher again (-1: the step is
// over), so that a cancel or the connect limit also wakes a handshake that
// follows the connect. False, last error 10004, when the connect was given up.
bool Mon_TcpWatchAgain(MonSocket s);

// The version of the records the socket carries (1 unless TLS chose 2), at
// the cost of a look into an array: called once a record.
int Mon_TcpLinkVersion(MonSocket s);

// Kept by Mon_Open for Mon_TlsLastProblem and the session's message.
void Mon_TlsSetLastProblem(const MonTrustProblem& problem);

// The message for the user of this thread's last failed Mon_Open when the
// WinSock text says too little: a refusal for the link's safety, or ssh's
// own message. Empty after a success or a plain network failure.
std::string Mon_OpenFailureText();
void Mon_SetOpenFailureText(const std::string& text);
