#include "ConnectionInfo.h"

asio::ip::address Unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

MonBytes MonitorAddress(const tcp::endpoint& endpoint) {
    const asio::ip::address address = Unmapped(endpoint.address());
    if (!address.is_v4()) return {};
    return EncodeSockAddr(address.to_v4().to_uint(), endpoint.port());
}
