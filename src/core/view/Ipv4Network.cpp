#include "core/view/Ipv4Network.h"

#include <charconv>

namespace {

bool ReadNumber(std::string_view& text, unsigned maximum, unsigned& value) {
    const char* end = text.data() + text.size();
    if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || value > maximum || at - text.data() > 3) return false;
    text.remove_prefix(static_cast<size_t>(at - text.data()));
    return true;
}

bool Expect(std::string_view& text, char wanted) {
    if (text.empty() || text.front() != wanted) return false;
    text.remove_prefix(1);
    return true;
}

bool ReadAddress(std::string_view& text, uint32_t& address) {
    address = 0;
    for (int part = 0; part < 4; ++part) {
        unsigned byte = 0;
        if (part > 0 && !Expect(text, '.')) return false;
        if (!ReadNumber(text, 255, byte)) return false;
        address = address << 8 | byte;
    }
    return true;
}

}  // namespace

bool Ipv4Network::ParseAddress(std::string_view text, uint32_t& address) {
    return ReadAddress(text, address) && text.empty();
}

bool Ipv4Network::Parse(std::string_view text, Ipv4Network& network) {
    uint32_t address = 0;
    if (!ReadAddress(text, address)) return false;
    unsigned prefix = 0;
    if (!Expect(text, '/') || !ReadNumber(text, 32, prefix) || !text.empty()) return false;
    network.m_Mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    network.m_Base = address & network.m_Mask;
    return true;
}

bool Ipv4Network::Contains(uint32_t address) const {
    return address != 0 && (address & m_Mask) == m_Base;
}
