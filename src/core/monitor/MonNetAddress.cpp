#include "core/monitor/MonNetAddress.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

MonNetAddress Mon_AddressOfSockAddr(const uint8_t (&socketAddress)[16]) {
    MonNetAddress address{};
    const unsigned family = socketAddress[0] | unsigned{socketAddress[1]} << 8;
    if (family != AF_INET) return address;
    address.m_Family = 4;
    address.m_Port = static_cast<uint16_t>(socketAddress[2] << 8 | socketAddress[3]);
    std::memcpy(address.m_Bytes, socketAddress + 4, 4);
    return address;
}

MonNetAddress Mon_Ipv4Address(uint32_t hostOrder, uint16_t port) {
    MonNetAddress address{};
    address.m_Family = 4;
    address.m_Port = port;
    for (int i = 0; i < 4; ++i)
        address.m_Bytes[i] = static_cast<uint8_t>(hostOrder >> (24 - 8 * i));
    return address;
}

bool Mon_ParseAddress(std::string_view text, MonNetAddress& address) {
    char copy[MonAddressTextSize];
    if (text.empty() || text.size() >= sizeof copy) return false;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    MonNetAddress parsed{};
    if (inet_pton(AF_INET, copy, parsed.m_Bytes) == 1) {
        parsed.m_Family = 4;
    } else if (inet_pton(AF_INET6, copy, parsed.m_Bytes) == 1) {
        parsed.m_Family = 6;
    } else {
        return false;
    }
    address = parsed;
    return true;
}

char* Mon_PutAddress(const MonNetAddress& address, char* at) {
    // 0.0.0.0 is what a first-version monitor sends for an address it does not know.
    const int family = address.m_Family == 4 ? AF_INET : address.m_Family == 6 ? AF_INET6 : 0;
    if (family == 0 || (family == AF_INET && Mon_Ipv4Value(address) == 0) ||
        inet_ntop(family, address.m_Bytes, at, MonAddressTextSize) == nullptr) {
        return at;
    }
    return at + std::strlen(at);
}

std::string Mon_AddressText(const MonNetAddress& address) {
    char text[MonAddressTextSize];
    return std::string(text, Mon_PutAddress(address, text));
}

uint32_t Mon_Ipv4Value(const MonNetAddress& address) {
    if (address.m_Family != 4) return 0;
    const uint8_t* b = address.m_Bytes;
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

bool operator==(const MonNetAddress& a, const MonNetAddress& b) {
    return a.m_Family == b.m_Family && a.m_Port == b.m_Port &&
           std::memcmp(a.m_Bytes, b.m_Bytes, sizeof a.m_Bytes) == 0;
}
