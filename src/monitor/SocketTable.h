#pragma once
// Every TCP socket the kernel has, read in one netlink dump per family (the
// socket diagnostics that `ss -ti` reads), with the byte counters of
// tcp_info: what a session's external socket received from its destination
// and what the destination acknowledged. Read once per poll; looked up by
// the local endpoint, which Dante's open line names.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/monitor/MonStream.h"

struct TcpCounters {
    uint64_t m_BytesReceived = 0;
    uint64_t m_BytesAcked = 0;
    uint64_t m_Inode = 0;
    uint8_t m_State = 0;  // as the kernel numbers them: 1 established, ...
    MonNetAddress m_Local{}, m_Remote{};
};

// An endpoint of a socket as the diagnostics name it (`address` and `port`
// in network order), an IPv4 peer of an IPv6 socket as IPv4.
MonNetAddress DiagEndpoint(uint8_t family, const uint32_t* address, uint16_t port);

class SocketTable {
public:
    SocketTable() = default;
    ~SocketTable();
    SocketTable(const SocketTable&) = delete;
    SocketTable& operator=(const SocketTable&) = delete;

    // Replaces the table; false with a message when the kernel will not say.
    bool Read(std::string& error);
    // The socket with this local endpoint; null when there is none.
    const TcpCounters* FindLocal(const MonNetAddress& local) const;
    size_t Size() const { return m_Sockets.size(); }

private:
    struct KeyHash {
        size_t operator()(const MonNetAddress& address) const;
    };
    struct KeyEqual {
        bool operator()(const MonNetAddress& a, const MonNetAddress& b) const;
    };

    bool Dump(uint8_t family, std::string& error);

    int m_Fd = -1;
    std::vector<uint8_t> m_Buffer;
    std::unordered_map<MonNetAddress, TcpCounters, KeyHash, KeyEqual> m_Sockets;
};
