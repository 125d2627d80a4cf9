#include "DestinationPolicy.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

bool IsUnspecified(const Address16& address) {
    static const Address16 mappedZero = [] {
        const uint8_t zero[4] = {0, 0, 0, 0};
        return MappedV4(zero);
    }();
    return address == Address16{} || address == mappedZero;
}

std::string ListText(const char* what, const std::vector<Address16>& addresses) {
    std::string text;
    for (const Address16& address : addresses) {
        text += (text.empty() ? std::string(what) + " " : ", ") +
                HostText(asio::ip::address_v6(address));
    }
    return text;
}

// Both sorted: "added 10.0.0.7; removed 10.0.0.5".
std::string Changes(const std::vector<Address16>& before, const std::vector<Address16>& after) {
    std::vector<Address16> added, removed;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(removed));
    const std::string gained = ListText("added", added);
    const std::string lost = ListText("removed", removed);
    return gained + (gained.empty() || lost.empty() ? "" : "; ") + lost;
}

Refusal ByRule(const DestRule& rule) {
    return {RefusedBy::Rule, "not allowed by rule " + std::to_string(rule.m_Number)};
}

const std::vector<Cidr>& PrivateBlocks() {
    static const std::vector<Cidr> blocks = {*Cidr::Parse("127.0.0.0/8"), *Cidr::Parse("::1"),
                                             *Cidr::Parse("169.254.0.0/16"),
                                             *Cidr::Parse("fe80::/10"), *Cidr::Parse("0.0.0.0/8")};
    return blocks;
}

}  // namespace

bool IsPrivateToHost(const Address16& address) {
    const std::vector<Cidr>& blocks = PrivateBlocks();
    return IsUnspecified(address) || std::any_of(blocks.begin(), blocks.end(), [&](const Cidr& b) {
               return b.Contains(address);
           });
}

std::vector<std::string> PrivatePassWarnings(const std::vector<DestRule>& rules) {
    static const Cidr unspecified6 = *Cidr::Parse("::");
    std::vector<std::string> warnings;
    for (const DestRule& rule : rules) {
        const bool opens =
            rule.m_bPass && std::any_of(rule.m_To.begin(), rule.m_To.end(), [](const Cidr& to) {
                return to.Overlaps(unspecified6) ||
                       std::any_of(PrivateBlocks().begin(), PrivateBlocks().end(),
                                   [&](const Cidr& b) { return to.Overlaps(b); });
            });
        if (opens) {
            warnings.push_back("rule " + std::to_string(rule.m_Number) +
                               " lets clients of other machines reach this machine's loopback "
                               "and link-local addresses: its \"to\" takes them in");
        }
    }
    return warnings;
}

void DestinationPolicy::AddOwnListener(const tcp::endpoint& endpoint) {
    const Address16 address = ToAddress16(endpoint.address());
    m_Own.push_back({address, IsUnspecified(address), endpoint.port()});
}

std::string DestinationPolicy::RefreshLocalAddresses() {
    std::vector<Address16> local;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* at = list; at != nullptr; at = at->ifa_next) {
            if (at->ifa_addr == nullptr) continue;
            if (at->ifa_addr->sa_family == AF_INET) {
                uint8_t v4[4];
                std::memcpy(v4, &reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr, 4);
                local.push_back(MappedV4(v4));
            } else if (at->ifa_addr->sa_family == AF_INET6) {
                Address16 v6;
                std::memcpy(v6.data(),
                            &reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr, 16);
                local.push_back(v6);
            }
        }
        freeifaddrs(list);
    }
    std::sort(local.begin(), local.end());
    local.erase(std::unique(local.begin(), local.end()), local.end());
    std::lock_guard lock(m_Mutex);
    const std::string changed = Changes(m_Local, local);
    m_Local.swap(local);
    return changed;
}

bool DestinationPolicy::IsLocal(const Address16& address) const {
    static const Cidr loopback4 = *Cidr::Parse("127.0.0.0/8");
    static const Cidr loopback6 = *Cidr::Parse("::1");
    if (loopback4.Contains(address) || loopback6.Contains(address)) return true;
    std::lock_guard lock(m_Mutex);
    return std::binary_search(m_Local.begin(), m_Local.end(), address);
}

bool DestinationPolicy::IsOwnListener(const Address16& address, uint16_t port) const {
    return std::any_of(m_Own.begin(), m_Own.end(), [&](const Own& own) {
        return own.m_Port == port && (own.m_Address == address ||
                                      (own.m_bAny && (IsLocal(address) || IsUnspecified(address))));
    });
}

std::optional<Refusal> DestinationPolicy::RefuseName(const std::vector<DestRule>& rules,
                                                     const Query& query) const {
    for (const DestRule& rule : rules) {
        const DestRule::Match match =
            rule.Matches(query.m_Client, query.m_User, query.m_Name, std::nullopt, query.m_Port);
        if (match == DestRule::Match::NeedsAddress) return std::nullopt;
        if (match == DestRule::Match::Yes) {
            if (rule.m_bPass) return std::nullopt;
            return ByRule(rule);
        }
    }
    return std::nullopt;
}

std::optional<Refusal> DestinationPolicy::RefuseAddress(const std::vector<DestRule>& rules,
                                                        const Query& query,
                                                        const asio::ip::address& dest) const {
    const Address16 address = ToAddress16(dest);
    if (IsOwnListener(address, query.m_Port)) {
        return Refusal{RefusedBy::OwnListener, "not allowed: the proxy's own listener"};
    }
    bool namedByPass = false;
    for (const DestRule& rule : rules) {
        const DestRule::Match match =
            rule.Matches(query.m_Client, query.m_User, query.m_Name, address, query.m_Port);
        if (match != DestRule::Match::Yes) continue;
        if (!rule.m_bPass) return ByRule(rule);
        namedByPass = !rule.m_To.empty();
        break;
    }
    if (!namedByPass && IsPrivateToHost(address) && !IsLocal(query.m_Client)) {
        return Refusal{RefusedBy::PrivateAddress, "not allowed: this machine's private address"};
    }
    return std::nullopt;
}
