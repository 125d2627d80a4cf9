#pragma once
// A network of either family written as address/prefix ("10.0.0.0/8",
// "2001:db8::/32"), or one IPv6 address alone (all its bits), for filter
// terms that choose connections by source or destination network.

#include <cstdint>
#include <string_view>

#include "core/monitor/MonNetAddress.h"

class IpNetwork {
public:
    // False for anything but an address and a prefix up to its family's bits.
    static bool Parse(std::string_view text, IpNetwork& network);
    // Whether an address lies in the network; none (and 0.0.0.0) never does,
    // nor an address of the other family.
    bool Contains(const MonNetAddress& address) const;

private:
    MonNetAddress m_Base{};
    unsigned m_Prefix = 0;
};
