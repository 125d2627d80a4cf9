#pragma once
// Ends a TCP socket of another process through the kernel, as `ss -K` does:
// the socket diagnostics first name the socket by its four endpoints and
// answer its cookie, then SOCK_DESTROY with that cookie aborts it (a reset
// to the peer, an error for the process that holds it). The cookie matters:
// asked by endpoints alone, the kernel falls back to a listener on the same
// local port, and destroying that would stop Dante accepting.

#include <string>

#include "core/monitor/MonStream.h"

class SocketDestroyer {
public:
    enum class Outcome {
        Destroyed,
        Gone,          // no such socket now, or only a listener or one already closing
        NotPermitted,  // the process lacks CAP_NET_ADMIN
        NotSupported,  // a kernel built without CONFIG_INET_DIAG_DESTROY
        Failed,        // anything else; the error says what
    };

    // The socket whose own endpoint is `local` and whose peer is `remote`.
    Outcome Destroy(const MonNetAddress& local, const MonNetAddress& remote, std::string& error);
};
