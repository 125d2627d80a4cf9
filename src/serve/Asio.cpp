#include "Asio.h"

Address16 ToAddress16(const asio::ip::address& address) {
    if (address.is_v4()) {
        const auto bytes = address.to_v4().to_bytes();
        const uint8_t v4[4] = {bytes[0], bytes[1], bytes[2], bytes[3]};
        return MappedV4(v4);
    }
    const auto bytes = address.to_v6().to_bytes();
    Address16 result;
    std::copy(bytes.begin(), bytes.end(), result.begin());
    return result;
}

std::string HostText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

std::string EndpointText(const tcp::endpoint& endpoint) {
    const std::string host = HostText(endpoint.address());
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(endpoint.port());
}
