#include "core/base/Utf8Text.h"

#include <cstdint>

namespace {

// The bytes after a lead byte that make a valid character: how many, and
// the range the first of them must lie in (which rules out overlong forms,
// surrogates and values past U+10FFFF). 0 for a byte that cannot lead.
struct LeadRule {
    size_t m_Extra;
    uint8_t m_Low, m_High;
};

LeadRule RuleOf(uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {1, 0x80, 0xBF};
    if (lead >= 0xE0 && lead <= 0xEF) {
        return {2, uint8_t(lead == 0xE0 ? 0xA0 : 0x80), uint8_t(lead == 0xED ? 0x9F : 0xBF)};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return {3, uint8_t(lead == 0xF0 ? 0x90 : 0x80), uint8_t(lead == 0xF4 ? 0x8F : 0xBF)};
    }
    return {0, 0, 0};
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const LeadRule rule = RuleOf(p[i]);
        if (rule.m_Extra == 0 || size - i <= rule.m_Extra) return false;
        if (p[i + 1] < rule.m_Low || p[i + 1] > rule.m_High) return false;
        for (size_t k = 2; k <= rule.m_Extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        i += rule.m_Extra + 1;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(static_cast<char>(0xC0 | byte >> 6));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

std::string MonitorUtf8(std::string_view bytes) {
    return IsUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
}
