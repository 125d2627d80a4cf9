#include "ConnectionInfo.h"

#include <algorithm>

asio::ip::address Unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

MonNetAddress MonitorAddress(const tcp::endpoint& endpoint) {
    const asio::ip::address address = Unmapped(endpoint.address());
    if (address.is_v4()) return Mon_Ipv4Address(address.to_v4().to_uint(), endpoint.port());
    MonNetAddress made{};
    made.m_Family = 6;
    made.m_Port = endpoint.port();
    const asio::ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
    std::copy(bytes.begin(), bytes.end(), made.m_Bytes);
    return made;
}

MonBytes MonitorSockAddr(const MonNetAddress& address) {
    if (address.m_Family != 4) return {};
    return EncodeSockAddr(Mon_Ipv4Value(address), address.m_Port);
}
