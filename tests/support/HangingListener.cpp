#include "support/HangingListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <stdexcept>

#include "support/FakeMonitor.h"

namespace {

constexpr int MaxFillers = 16;
constexpr int SettleMs = 200;  // a filler not connected by then is hanging

sockaddr_in LoopbackAddress(uint32_t b, uint32_t c, uint32_t d) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(FakeMonitor::Port);
    address.sin_addr.s_addr = htonl((127u << 24) | (b << 16) | (c << 8) | d);
    return address;
}

}  // namespace

HangingListener::HangingListener() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    sockaddr_in address{};
    for (int attempt = 0; attempt < 200 && m_ListenFd < 0; ++attempt) {
        address = LoopbackAddress(random() % 256, 1 + random() % 254, 2 + random() % 253);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd, 0) == 0) {
            m_ListenFd = fd;
        } else {
            ::close(fd);
        }
    }
    if (m_ListenFd < 0) throw std::runtime_error("HangingListener: no free loopback address");
    m_Host = inet_ntoa(address.sin_addr);
    // Connects that nobody accepts fill the backlog; the first one that
    // stays unanswered shows it is full.
    for (int i = 0; i < MaxFillers; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        m_Fillers.push_back(fd);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd wait{fd, POLLOUT, 0};
        if (::poll(&wait, 1, SettleMs) == 0) return;
    }
    throw std::runtime_error("HangingListener: the backlog never filled");
}

HangingListener::~HangingListener() {
    for (int fd : m_Fillers) ::close(fd);
    ::close(m_ListenFd);
}
