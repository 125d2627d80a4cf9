#include "core/view/IpNetwork.h"

#include <charconv>

bool IpNetwork::Parse(std::string_view text, IpNetwork& network) {
    const size_t slash = text.find('/');
    MonNetAddress base{};
    if (!Mon_ParseAddress(text.substr(0, slash), base)) return false;
    const unsigned bits = base.m_Family == 4 ? 32 : 128;
    unsigned prefix = bits;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        const char* end = digits.data() + digits.size();
        if (digits.empty() || digits.size() > 3 || digits.front() < '0' || digits.front() > '9')
            return false;
        auto [at, error] = std::from_chars(digits.data(), end, prefix);
        if (error != std::errc() || at != end || prefix > bits) return false;
    } else if (base.m_Family == 4) {
        return false;  // an IPv4 address alone stays a text to look for
    }
    network.m_Base = base;
    network.m_Prefix = prefix;
    return true;
}

bool IpNetwork::Contains(const MonNetAddress& address) const {
    if (address.m_Family != m_Base.m_Family) return false;
    if (address.m_Family == 4 && Mon_Ipv4Value(address) == 0) return false;
    for (unsigned bit = 0; bit < m_Prefix; ++bit) {
        const unsigned mask = 0x80u >> (bit % 8);
        if ((address.m_Bytes[bit / 8] & mask) != (m_Base.m_Bytes[bit / 8] & mask)) return false;
    }
    return true;
}
