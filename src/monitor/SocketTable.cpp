#include "SocketTable.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/monitor/MonNetAddress.h"

namespace {

// The states that carry a session's traffic: no listeners, no TIME_WAIT
// (which has no counters), no sockets still connecting.
// The kernel's numbers of the states (include/net/tcp_states.h).
enum TcpState : uint8_t {
    Established = 1,
    FinWait1 = 4,
    FinWait2 = 5,
    CloseWait = 8,
    LastAck = 9,
    Closing = 11,
};
constexpr uint32_t TrafficStates = (1u << Established) | (1u << FinWait1) | (1u << FinWait2) |
                                   (1u << CloseWait) | (1u << LastAck) | (1u << Closing);
constexpr size_t BufferSize = 1 << 18;

void ReadInfo(const inet_diag_msg& message, size_t length, TcpCounters& counters) {
    const auto* attribute = reinterpret_cast<const rtattr*>(&message + 1);
    size_t left = length - NLMSG_ALIGN(sizeof message);
    for (; RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        if (attribute->rta_type != INET_DIAG_INFO) continue;
        tcp_info info{};
        std::memcpy(&info, RTA_DATA(attribute),
                    std::min<size_t>(RTA_PAYLOAD(attribute), sizeof info));
        counters.m_BytesReceived = info.tcpi_bytes_received;
        counters.m_BytesAcked = info.tcpi_bytes_acked;
    }
}

}  // namespace

MonNetAddress DiagEndpoint(uint8_t family, const uint32_t* address, uint16_t port) {
    MonNetAddress made{};
    made.m_Port = ntohs(port);
    const auto* bytes = reinterpret_cast<const uint8_t*>(address);
    static constexpr uint8_t Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (family == AF_INET) {
        made.m_Family = 4;
        std::memcpy(made.m_Bytes, bytes, 4);
    } else if (std::memcmp(bytes, Mapped, 12) == 0) {
        made.m_Family = 4;  // an IPv4 peer of an IPv6 socket
        std::memcpy(made.m_Bytes, bytes + 12, 4);
    } else {
        made.m_Family = 6;
        std::memcpy(made.m_Bytes, bytes, 16);
    }
    return made;
}

SocketTable::~SocketTable() {
    if (m_Fd >= 0) close(m_Fd);
}

size_t SocketTable::KeyHash::operator()(const MonNetAddress& address) const {
    size_t hash = 1469598103934665603ull ^ address.m_Port;
    const size_t size = address.m_Family == 4 ? 4 : 16;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ address.m_Bytes[i]) * 1099511628211ull;
    return hash;
}

bool SocketTable::KeyEqual::operator()(const MonNetAddress& a, const MonNetAddress& b) const {
    return a.m_Port == b.m_Port && a == b;
}

bool SocketTable::Read(std::string& error) {
    if (m_Fd < 0) {
        m_Fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        if (m_Fd < 0) {
            error = std::string("the kernel's socket diagnostics cannot be read: ") +
                    std::strerror(errno);
            return false;
        }
        m_Buffer.resize(BufferSize);
    }
    m_Sockets.clear();
    return Dump(AF_INET, error) && Dump(AF_INET6, error);
}

bool SocketTable::Dump(uint8_t family, std::string& error) {
    struct {
        nlmsghdr m_Header;
        inet_diag_req_v2 m_Request;
    } request{};
    request.m_Header.nlmsg_len = sizeof request;
    request.m_Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.m_Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.m_Request.sdiag_family = family;
    request.m_Request.sdiag_protocol = IPPROTO_TCP;
    request.m_Request.idiag_states = TrafficStates;
    request.m_Request.idiag_ext = 1 << (INET_DIAG_INFO - 1);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(m_Fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        error =
            std::string("the kernel's socket diagnostics cannot be asked: ") + std::strerror(errno);
        return false;
    }
    for (;;) {
        const ssize_t received = recv(m_Fd, m_Buffer.data(), m_Buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) continue;
            error = std::string("the kernel's socket diagnostics cannot be read: ") +
                    std::strerror(errno);
            return false;
        }
        auto* header = reinterpret_cast<nlmsghdr*>(m_Buffer.data());
        size_t left = static_cast<size_t>(received);
        for (; NLMSG_OK(header, left); header = NLMSG_NEXT(header, left)) {
            if (header->nlmsg_type == NLMSG_DONE) return true;
            if (header->nlmsg_type == NLMSG_ERROR) {
                const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
                error = std::string("the kernel's socket diagnostics failed: ") +
                        std::strerror(-failure->error);
                return false;
            }
            const auto& message = *static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            TcpCounters counters;
            counters.m_State = message.idiag_state;
            counters.m_Inode = message.idiag_inode;
            counters.m_Local = DiagEndpoint(family, message.id.idiag_src, message.id.idiag_sport);
            counters.m_Remote = DiagEndpoint(family, message.id.idiag_dst, message.id.idiag_dport);
            ReadInfo(message, header->nlmsg_len - NLMSG_HDRLEN, counters);
            // Two sockets may share a local endpoint (SO_REUSEADDR); an
            // established one carries the session.
            auto [slot, made] = m_Sockets.try_emplace(counters.m_Local, counters);
            if (!made && counters.m_State == Established) slot->second = counters;
        }
    }
}

const TcpCounters* SocketTable::FindLocal(const MonNetAddress& local) const {
    const auto found = m_Sockets.find(local);
    return found == m_Sockets.end() ? nullptr : &found->second;
}
