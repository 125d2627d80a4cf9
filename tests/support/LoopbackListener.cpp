#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackListener::LoopbackListener(int backlog, const char* ipv4)
    : m_Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (ipv4 && ::inet_pton(AF_INET, ipv4, &address.sin_addr) != 1) return;
    socklen_t length = sizeof address;
    if (m_Fd >= 0 && ::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(m_Fd, backlog) == 0 &&
        ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        m_Port = ntohs(address.sin_port);
    }
}

LoopbackListener::~LoopbackListener() {
    if (m_Fd >= 0) ::close(m_Fd);
}

void LoopbackListener::Shutdown() const {
    ::shutdown(m_Fd, SHUT_RDWR);
}
