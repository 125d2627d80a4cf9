#pragma once
// An address block such as 127.0.0.0/8 or ::1/128. IPv4 blocks and addresses
// are held as IPv4-mapped IPv6, so that a client reaching an IPv6 listener
// from an IPv4 address matches the IPv4 block it belongs to.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

using Address16 = std::array<uint8_t, 16>;

class Cidr {
public:
    // "a.b.c.d/n", "x::y/n", or an address alone (a block of one). Nothing on failure.
    static std::optional<Cidr> Parse(std::string_view text);
    bool Contains(const Address16& address) const;
    // True when some address is in both blocks.
    bool Overlaps(const Cidr& other) const;

private:
    Address16 m_Prefix{};
    int m_Bits = 0;
};

// The IPv4-mapped form of an IPv4 address in network order.
Address16 MappedV4(const uint8_t (&v4)[4]);
