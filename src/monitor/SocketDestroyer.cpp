#include "SocketDestroyer.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SocketTable.h"
#include "core/monitor/MonNetAddress.h"

namespace {

// The kernel's numbers of the states (include/net/tcp_states.h) that are
// no session's traffic any more, or never were.
constexpr uint8_t TimeWait = 6;
constexpr uint8_t Closed = 7;
constexpr uint8_t Listen = 10;

struct Request {
    nlmsghdr m_Header;
    inet_diag_req_v2 m_Diag;
};

// An endpoint as a request names it: IPv4 in the first word, IPv6 in all four.
void PutEndpoint(const MonNetAddress& endpoint, __be32* address, __be16& port) {
    std::memcpy(address, endpoint.m_Bytes, endpoint.m_Family == 4 ? 4 : 16);
    port = htons(endpoint.m_Port);
}

// One netlink socket per request: closes are rare, and nothing is shared
// between the monitor's threads.
class DiagSocket {
public:
    DiagSocket() : m_Fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    ~DiagSocket() {
        if (m_Fd >= 0) close(m_Fd);
    }
    DiagSocket(const DiagSocket&) = delete;
    DiagSocket& operator=(const DiagSocket&) = delete;

    bool Open() const { return m_Fd >= 0; }
    // Sends the request and reads the one answer: its message, or a
    // negative errno (0 for an acknowledgement).
    int Ask(const Request& request, inet_diag_msg& found) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (sendto(m_Fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                   sizeof kernel) < 0) {
            return -errno;
        }
        ssize_t received;
        do received = recv(m_Fd, m_Buffer, sizeof m_Buffer, 0);
        while (received < 0 && errno == EINTR);
        if (received < 0) return -errno;
        const auto* header = reinterpret_cast<const nlmsghdr*>(m_Buffer);
        if (!NLMSG_OK(header, static_cast<size_t>(received))) return -EPROTO;
        if (header->nlmsg_type == NLMSG_ERROR) {
            return static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            header->nlmsg_len < NLMSG_LENGTH(sizeof found)) {
            return -EPROTO;
        }
        std::memcpy(&found, NLMSG_DATA(header), sizeof found);
        return 1;
    }

private:
    int m_Fd;
    alignas(nlmsghdr) uint8_t m_Buffer[8192];
};

}  // namespace

SocketDestroyer::Outcome SocketDestroyer::Destroy(const MonNetAddress& local,
                                                  const MonNetAddress& remote, std::string& error) {
    DiagSocket diag;
    if (!diag.Open()) {
        error = std::string("the kernel's socket diagnostics cannot be opened: ") +
                std::strerror(errno);
        return Outcome::Failed;
    }
    Request request{};
    request.m_Header.nlmsg_len = sizeof request;
    request.m_Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.m_Header.nlmsg_flags = NLM_F_REQUEST;
    request.m_Diag.sdiag_family = local.m_Family == 4 ? AF_INET : AF_INET6;
    request.m_Diag.sdiag_protocol = IPPROTO_TCP;
    request.m_Diag.idiag_states = ~0u;
    request.m_Diag.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.m_Diag.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    PutEndpoint(local, request.m_Diag.id.idiag_src, request.m_Diag.id.idiag_sport);
    PutEndpoint(remote, request.m_Diag.id.idiag_dst, request.m_Diag.id.idiag_dport);

    inet_diag_msg found{};
    const int asked = diag.Ask(request, found);
    if (asked == -ENOENT) return Outcome::Gone;
    if (asked < 0) {
        error = std::string("the kernel's socket diagnostics failed: ") + std::strerror(-asked);
        return Outcome::Failed;
    }
    // A listener or a socket of other endpoints is what the kernel found
    // instead of the one asked for.
    if (!(DiagEndpoint(found.idiag_family, found.id.idiag_src, found.id.idiag_sport) == local) ||
        !(DiagEndpoint(found.idiag_family, found.id.idiag_dst, found.id.idiag_dport) == remote) ||
        found.idiag_state == Listen || found.idiag_state == TimeWait ||
        found.idiag_state == Closed) {
        return Outcome::Gone;
    }

    request.m_Header.nlmsg_type = SOCK_DESTROY;
    request.m_Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    // As the kernel named it (an IPv6 socket may carry an IPv4 session), with
    // its cookie: this socket and no other.
    request.m_Diag.sdiag_family = found.idiag_family;
    request.m_Diag.id = found.id;
    const int destroyed = diag.Ask(request, found);
    switch (destroyed) {
        case 0:
            return Outcome::Destroyed;
        case -ENOENT:
            return Outcome::Gone;
        case -EPERM:
        case -EACCES:
            return Outcome::NotPermitted;
        case -EOPNOTSUPP:
            return Outcome::NotSupported;
        default:
            error = std::string("the kernel did not destroy the socket: ") +
                    std::strerror(destroyed < 0 ? -destroyed : EPROTO);
            return Outcome::Failed;
    }
}
