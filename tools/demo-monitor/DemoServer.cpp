#include "DemoServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <openssl/ssl.h>

#include "core/monitor/MonStream.h"

namespace demo {

namespace {

constexpr size_t MaxClients = 64;

std::string PeerText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

DemoServer::~DemoServer() {
    for (Client& client : m_Clients) {
        SSL_free(client.m_Ssl);
        ::close(client.m_Fd);
    }
    if (m_ListenFd >= 0) {
        ::close(m_ListenFd);
    }
}

bool DemoServer::Listen(const std::string& address, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(MonitorPort);
    const int lookup = ::getaddrinfo(address.c_str(), port.c_str(), &hints, &found);
    if (lookup != 0) {
        error = "cannot use the address '" + address + "': " + ::gai_strerror(lookup);
        return false;
    }
    const sockaddr_in bound = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);

    m_ListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_ListenFd < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(m_ListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(m_ListenFd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) < 0) {
        if (errno == EADDRINUSE) {
            error = "port " + port + " on " + address +
                    " is already in use; is another monitor running there? Stop it, or "
                    "choose another address with --listen.";
        } else {
            error = "cannot listen on " + address + ":" + port + ": " + std::strerror(errno);
        }
        return false;
    }
    if (::listen(m_ListenFd, 16) < 0) {
        error = "cannot listen on " + address + ":" + port + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void DemoServer::Run(int wakeFd) {
    for (;;) {
        Advance();
        std::vector<pollfd> fds;
        fds.push_back({wakeFd, POLLIN, 0});
        fds.push_back({m_ListenFd, POLLIN, 0});
        for (const Client& client : m_Clients) {
            const bool write = !client.m_Out.empty() || client.m_bWantWrite;
            fds.push_back({client.m_Fd, static_cast<short>(write ? POLLIN | POLLOUT : POLLIN), 0});
        }
        // Wake at least once a second so the traffic moves on for everyone.
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) {
            std::perror("vgl-demo-monitor: poll");
            return;
        }
        if (fds[0].revents) {
            return;
        }
        // Clients first, by index from the end, so that dropping one keeps the
        // indexes of those still to look at; new clients are not in `fds` yet.
        for (size_t i = m_Clients.size(); i-- > 0;) {
            const short events = fds[i + 2].revents;
            if (events == 0) {
                continue;
            }
            Client& client = m_Clients[i];
            const bool readable = (events & (POLLIN | POLLHUP | POLLERR)) || client.m_bWantWrite;
            if ((readable && !Receive(client)) || !Flush(client)) {
                Drop(i);
            }
        }
        if (fds[1].revents) {
            Accept();
        }
    }
}

void DemoServer::Advance() {
    // A busy proxy makes more records in a second than a client may have
    // queued: they are not made when every client is to get a snapshot.
    const bool listened = std::any_of(m_Clients.begin(), m_Clients.end(), [](const Client& c) {
        return c.m_bSecured && c.m_Backlog.WantsRecords();
    });
    std::vector<Body> fresh;
    std::vector<DemoClose> closes;
    m_Traffic.AdvanceTo(static_cast<int64_t>(std::time(nullptr)), listened ? &fresh : nullptr,
                        &closes);
    if (fresh.empty() && closes.empty()) {
        return;
    }
    const SharedFrames frames = listened ? FrameRecords(fresh) : nullptr;
    for (Client& client : m_Clients) {
        if (client.m_bSecured) {
            client.m_Backlog.Add(frames, closes, m_Traffic.ActiveCount());
        }
    }
}

void DemoServer::Accept() {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int fd = ::accept4(m_ListenFd, reinterpret_cast<sockaddr*>(&peer), &size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (m_Clients.size() >= MaxClients) {
        ::close(fd);
        return;
    }
    Client client;
    client.m_Fd = fd;
    client.m_Peer = PeerText(peer);
    if (m_pTls) {
        client.m_Ssl = SSL_new(m_pTls->Context());
        client.m_pPeer = std::make_unique<MonTlsPeer>();
        SSL_set_fd(client.m_Ssl, fd);
        // A large answer is written a part at a time, from where it is kept.
        SSL_set_mode(client.m_Ssl, SSL_MODE_ENABLE_PARTIAL_WRITE);
        SSL_set_accept_state(client.m_Ssl);
        MonTlsServer::Watch(client.m_Ssl, client.m_pPeer.get());
    } else {
        Welcome(client);
    }
    m_Clients.push_back(std::move(client));
}

// From here on the client gets records: first the connections active now.
void DemoServer::Welcome(Client& client) {
    client.m_bSecured = true;
    const std::string how =
        client.m_Ssl ? " over TLS (records version " + std::to_string(client.m_Version) + ")" : "";
    std::printf("vgl-demo-monitor: client %s connected%s\n", client.m_Peer.c_str(), how.c_str());
    std::fflush(stdout);
}

// False when the handshake failed; the client is then dropped.
bool DemoServer::Handshake(Client& client) {
    client.m_bWantWrite = false;
    const int done = SSL_accept(client.m_Ssl);
    if (done == 1) {
        client.m_Version = MonTlsServer::Version(client.m_Ssl);
        Welcome(client);
        return true;
    }
    const int error = SSL_get_error(client.m_Ssl, done);
    client.m_bWantWrite = error == SSL_ERROR_WANT_WRITE;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        return true;
    }
    const MonTlsPeer& peer = *client.m_pPeer;
    const std::string why =
        peer.m_bRefused ? "certificate " + peer.m_Fingerprint + " is not in --monitor-clients"
                        : "TLS handshake failed: " + MonTlsServer::LastReason();
    std::printf("vgl-demo-monitor: client %s refused: %s\n", client.m_Peer.c_str(), why.c_str());
    std::fflush(stdout);
    return false;
}

// False when the client has gone.
bool DemoServer::Receive(Client& client) {
    if (client.m_Ssl) {
        return client.m_bSecured ? ReceiveTls(client) : Handshake(client);
    }
    uint8_t buffer[4096];
    const ssize_t got = ::recv(client.m_Fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (got == 0) {
        return false;
    }
    client.m_In.insert(client.m_In.end(), buffer, buffer + got);
    TakeFrames(client);
    return true;
}

// Reads until OpenSSL wants the socket again: it may hold decrypted bytes
// that poll() cannot see.
bool DemoServer::ReceiveTls(Client& client) {
    uint8_t buffer[4096];
    for (;;) {
        const int got = SSL_read(client.m_Ssl, buffer, sizeof buffer);
        if (got <= 0) {
            const int error = SSL_get_error(client.m_Ssl, got);
            client.m_bWantWrite = error == SSL_ERROR_WANT_WRITE;
            TakeFrames(client);
            return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
        }
        client.m_In.insert(client.m_In.end(), buffer, buffer + got);
    }
}

void DemoServer::TakeFrames(Client& client) {
    while (client.m_In.size() >= 2) {
        const size_t length = (size_t{client.m_In[0]} << 8) | client.m_In[1];
        if (client.m_In.size() < 2 + length) {
            break;
        }
        const bool isRequest = length == 1 && client.m_In[2] == 0x00;
        client.m_In.erase(client.m_In.begin(),
                          client.m_In.begin() + static_cast<ptrdiff_t>(2 + length));
        if (isRequest) {
            Answer(client);
        }
    }
}

void DemoServer::Answer(Client& client) {
    // The monitor ends a batch with an empty message.
    static const SharedFrames EndOfBatch =
        std::make_shared<const Frames>(Frames{{0, 0}, 0, nullptr});
    Advance();
    for (const SharedFrames& frames : client.m_Backlog.Take(m_Traffic)) {
        client.m_Out.push_back(FramesForVersion(client.m_Version, frames));
    }
    client.m_Out.push_back(EndOfBatch);
}

// False when the client has gone.
bool DemoServer::Flush(Client& client) {
    while (!client.m_Out.empty() && (!client.m_Ssl || client.m_bSecured)) {
        const Body& bytes = client.m_Out.front()->m_Bytes;
        const size_t left = bytes.size() - client.m_Sent;
        if (left == 0) {
            client.m_Out.pop_front();
            client.m_Sent = 0;
            continue;
        }
        const uint8_t* from = bytes.data() + client.m_Sent;
        if (client.m_Ssl) {
            const int sent =
                SSL_write(client.m_Ssl, from, static_cast<int>(std::min<size_t>(left, 1 << 20)));
            if (sent <= 0) {
                const int error = SSL_get_error(client.m_Ssl, sent);
                client.m_bWantWrite = error == SSL_ERROR_WANT_WRITE;
                return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
            }
            client.m_Sent += static_cast<size_t>(sent);
        } else {
            const ssize_t sent = ::send(client.m_Fd, from, left, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0) {
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            }
            client.m_Sent += static_cast<size_t>(sent);
        }
    }
    return true;
}

void DemoServer::Drop(size_t index) {
    std::printf("vgl-demo-monitor: client %s disconnected\n", m_Clients[index].m_Peer.c_str());
    std::fflush(stdout);
    SSL_free(m_Clients[index].m_Ssl);
    ::close(m_Clients[index].m_Fd);
    m_Clients.erase(m_Clients.begin() + static_cast<ptrdiff_t>(index));
}

}  // namespace demo
