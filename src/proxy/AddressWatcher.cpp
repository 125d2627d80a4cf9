#include "AddressWatcher.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

bool AddressWatcher::Start() {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) return false;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return false;
    }
    std::error_code error;
    m_Socket.assign(fd, error);
    if (error) {
        close(fd);
        return false;
    }
    // An address may have come between the first reading and the subscription.
    m_Changed();
    Wait();
    return true;
}

// The events only say that something changed: the whole list is read again,
// which also covers events lost to a full socket buffer (ENOBUFS).
void AddressWatcher::Wait() {
    m_Socket.async_wait(asio::posix::stream_descriptor::wait_read, [this](std::error_code error) {
        if (error) return;
        char buffer[8192];
        for (;;) {
            const ssize_t size =
                recv(m_Socket.native_handle(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (size <= 0 && !(size < 0 && errno == ENOBUFS)) break;
        }
        m_Changed();
        Wait();
    });
}
