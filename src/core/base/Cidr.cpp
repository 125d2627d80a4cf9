#include "core/base/Cidr.h"

#include <arpa/inet.h>

#include <charconv>
#include <string>

Address16 MappedV4(const uint8_t (&v4)[4]) {
    Address16 mapped{};
    mapped[10] = 0xFF;
    mapped[11] = 0xFF;
    for (int i = 0; i < 4; ++i) mapped[12 + i] = v4[i];
    return mapped;
}

std::optional<Cidr> Cidr::Parse(std::string_view text) {
    const size_t slash = text.find('/');
    const std::string host(text.substr(0, slash));
    Cidr block;
    int maxBits = 128;
    uint8_t v4[4];
    if (inet_pton(AF_INET, host.c_str(), v4) == 1) {
        block.m_Prefix = MappedV4(v4);
        maxBits = 32;
    } else if (inet_pton(AF_INET6, host.c_str(), block.m_Prefix.data()) != 1) {
        return std::nullopt;
    }
    int bits = maxBits;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), bits);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
            bits < 0 || bits > maxBits) {
            return std::nullopt;
        }
    }
    block.m_Bits = bits + (128 - maxBits);
    return block;
}

bool Cidr::Contains(const Address16& address) const {
    int bits = m_Bits;
    for (size_t i = 0; i < address.size() && bits > 0; ++i, bits -= 8) {
        const uint8_t mask = bits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - bits));
        if ((address[i] & mask) != (m_Prefix[i] & mask)) return false;
    }
    return true;
}

bool Cidr::Overlaps(const Cidr& other) const {
    // Two blocks overlap exactly when the wider one holds the other's prefix.
    return m_Bits <= other.m_Bits ? Contains(other.m_Prefix) : other.Contains(m_Prefix);
}
