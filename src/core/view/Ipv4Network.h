#pragma once
// An IPv4 network written as address/prefix ("10.0.0.0/8"), for filter terms
// that choose connections by source or destination network.

#include <cstdint>
#include <string_view>

class Ipv4Network {
public:
    // False for anything but four decimals 0..255 and a prefix 0..32.
    static bool Parse(std::string_view text, Ipv4Network& network);
    // A dotted address alone ("10.1.2.3"), in host order.
    static bool ParseAddress(std::string_view text, uint32_t& address);
    // Whether an address (host order) lies in the network; 0, no address, never does.
    bool Contains(uint32_t address) const;

private:
    uint32_t m_Base = 0;
    uint32_t m_Mask = 0;
};
