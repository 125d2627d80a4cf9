#pragma once
// The monitor's side of the protocol for any number of clients at once: each
// request (the one-byte body 0x00) is answered with the records produced since
// the client's previous request, then the empty message. A client that has
// just connected first gets the connections that are already active.

#include <csignal>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "DemoBacklog.h"
#include "DemoTraffic.h"
#include "core/monitor/MonTlsServer.h"

namespace demo {

class DemoServer {
public:
    // With `tls`, every client speaks TLS and must be listed in its clients file.
    explicit DemoServer(DemoTraffic& traffic, const MonTlsServer* tls = nullptr)
        : m_Traffic(traffic), m_pTls(tls) {}
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // Binds port 5051 of the address; false with a message for the user.
    bool Listen(const std::string& address, std::string& error);
    // Serves until `wakeFd` becomes readable (the signal handler writes to it).
    void Run(int wakeFd);

private:
    struct Client {
        int m_Fd = -1;
        std::string m_Peer;
        Body m_In;                  // bytes received, not yet a whole frame
        DemoBacklog m_Backlog;
        // Answers not yet written, the first of them up to m_Sent.
        std::deque<SharedFrames> m_Out;
        size_t m_Sent = 0;
        SSL* m_Ssl = nullptr;       // null: plain TCP
        // Where the handshake notes the client's certificate; kept in place
        // while the vector of clients moves.
        std::unique_ptr<MonTlsPeer> m_pPeer;
        bool m_bSecured = false;    // past the TLS handshake, or plain
        bool m_bWantWrite = false;  // TLS waits for the socket to take bytes
        int m_Version = 1;          // of the records, as ALPN chose
    };

    void Advance();
    void Accept();
    void Welcome(Client& client);
    bool Handshake(Client& client);
    bool Receive(Client& client);
    bool ReceiveTls(Client& client);
    void TakeFrames(Client& client);
    bool Flush(Client& client);
    void Answer(Client& client);
    void Drop(size_t index);

    DemoTraffic& m_Traffic;
    const MonTlsServer* m_pTls;
    int m_ListenFd = -1;
    std::vector<Client> m_Clients;
};

}  // namespace demo
