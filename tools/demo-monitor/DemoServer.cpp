#include "DemoServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/monitor/MonStream.h"

namespace demo {

namespace {

constexpr size_t MaxClients = 64;
// A client that stops asking is given a fresh snapshot instead of an endless
// backlog.
constexpr size_t MaxQueuedRecords = 20000;

std::string PeerText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

DemoServer::~DemoServer() {
    for (Client& client : m_Clients) {
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
            fds.push_back({client.m_Fd,
                           static_cast<short>(client.m_Out.empty() ? POLLIN : POLLIN | POLLOUT),
                           0});
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
            if (((events & (POLLIN | POLLHUP | POLLERR)) && !Receive(client)) || !Flush(client)) {
                Drop(i);
            }
        }
        if (fds[1].revents) {
            Accept();
        }
    }
}

void DemoServer::Advance() {
    std::vector<Body> fresh;
    m_Traffic.AdvanceTo(static_cast<int64_t>(std::time(nullptr)), fresh);
    if (fresh.empty()) {
        return;
    }
    for (Client& client : m_Clients) {
        if (client.m_Queue.size() + fresh.size() > MaxQueuedRecords) {
            client.m_Queue = m_Traffic.Snapshot();
            continue;
        }
        client.m_Queue.insert(client.m_Queue.end(), fresh.begin(), fresh.end());
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
    client.m_Queue = m_Traffic.Snapshot();
    std::printf("vgl-demo-monitor: client %s connected\n", client.m_Peer.c_str());
    std::fflush(stdout);
    m_Clients.push_back(std::move(client));
}

// False when the client has gone.
bool DemoServer::Receive(Client& client) {
    uint8_t buffer[4096];
    const ssize_t got = ::recv(client.m_Fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (got == 0) {
        return false;
    }
    client.m_In.insert(client.m_In.end(), buffer, buffer + got);
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
    return true;
}

void DemoServer::Answer(Client& client) {
    Advance();
    for (const Body& record : client.m_Queue) {
        AppendFrame(client.m_Out, record);
    }
    client.m_Queue.clear();
    AppendFrame(client.m_Out, {});
}

// False when the client has gone.
bool DemoServer::Flush(Client& client) {
    while (!client.m_Out.empty()) {
        const ssize_t sent = ::send(client.m_Fd, client.m_Out.data(), client.m_Out.size(),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        client.m_Out.erase(client.m_Out.begin(), client.m_Out.begin() + sent);
    }
    return true;
}

void DemoServer::Drop(size_t index) {
    std::printf("vgl-demo-monitor: client %s disconnected\n", m_Clients[index].m_Peer.c_str());
    std::fflush(stdout);
    ::close(m_Clients[index].m_Fd);
    m_Clients.erase(m_Clients.begin() + static_cast<ptrdiff_t>(index));
}

}  // namespace demo
