#include "DestRule.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

bool AnyBlockContains(const std::vector<Cidr>& blocks, const Address16& address) {
    return std::any_of(blocks.begin(), blocks.end(),
                       [&](const Cidr& block) { return block.Contains(address); });
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<std::pair<uint16_t, uint16_t>> ParsePortRange(const std::string& text) {
    const size_t dash = text.find('-');
    const auto low = ParsePort(std::string_view(text).substr(0, dash));
    const auto high =
        dash == std::string::npos ? low : ParsePort(std::string_view(text).substr(dash + 1));
    if (!low || !high || *low > *high) return std::nullopt;
    return std::make_pair(*low, *high);
}

bool NameHasSuffix(const std::string& name, const std::string& suffix) {
    std::string_view tail = suffix;
    if (!tail.empty() && tail.front() == '.') tail.remove_prefix(1);
    std::string_view whole = name;
    if (!whole.empty() && whole.back() == '.') whole.remove_suffix(1);  // the root
    if (tail.empty() || tail.size() > whole.size()) return false;
    const size_t at = whole.size() - tail.size();
    for (size_t i = 0; i < tail.size(); ++i) {
        if (Lower(whole[at + i]) != Lower(tail[i])) return false;
    }
    return at == 0 || whole[at - 1] == '.';
}

DestRule::Match DestRule::Matches(const Address16& client, const std::string& user,
                                  const std::string& name, const std::optional<Address16>& dest,
                                  uint16_t port) const {
    if (!m_Clients.empty() && !AnyBlockContains(m_Clients, client)) return Match::No;
    if (!m_Users.empty() && std::find(m_Users.begin(), m_Users.end(), user) == m_Users.end())
        return Match::No;
    if (!m_Ports.empty() && std::none_of(m_Ports.begin(), m_Ports.end(), [port](const auto& range) {
            return port >= range.first && port <= range.second;
        })) {
        return Match::No;
    }
    if (!m_Names.empty() && std::none_of(m_Names.begin(), m_Names.end(), [&](const auto& suffix) {
            return NameHasSuffix(name, suffix);
        })) {
        return Match::No;
    }
    if (m_To.empty()) return Match::Yes;
    if (!dest) return Match::NeedsAddress;
    return AnyBlockContains(m_To, *dest) ? Match::Yes : Match::No;
}
