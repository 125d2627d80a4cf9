#include "core/view/ConnectionGroups.h"

#include <functional>
#include <string_view>
#include <unordered_map>

#include "core/table/EntryObj.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/EntryKeys.h"

namespace {

// An address of either family as one 128-bit number, its port left out: IPv4
// as the IPv6 address that maps it. All zero for none (and for 0.0.0.0).
struct AddressKey {
    uint64_t m_High = 0;
    uint64_t m_Low = 0;
    bool operator==(const AddressKey&) const = default;
    bool IsNone() const { return m_High == 0 && m_Low == 0; }
};

struct AddressKeyHash {
    size_t operator()(const AddressKey& key) const {
        return std::hash<uint64_t>()(key.m_High * 0x9E3779B97F4A7C15ull ^ key.m_Low);
    }
};

AddressKey KeyOf(const MonNetAddress& address) {
    AddressKey key;
    if (address.m_Family == 4) {
        const uint32_t value = AddressValue(address);
        if (value != 0) key.m_Low = uint64_t{0xFFFF} << 32 | value;
    } else if (address.m_Family == 6) {
        for (int i = 0; i < 8; ++i) key.m_High = key.m_High << 8 | address.m_Bytes[i];
        for (int i = 8; i < 16; ++i) key.m_Low = key.m_Low << 8 | address.m_Bytes[i];
    }
    return key;
}

}  // namespace

// Groups are found by a view of the entry's own text or by the address
// itself, so that 100,000 connections make no string each.
void ConnectionGroups::Build(GroupBy by, const std::vector<const EntryObj*>& entries,
                             const std::vector<std::string_view>& servers) {
    m_By = by;
    m_Groups.clear();
    if (by == GroupBy::Connection) return;
    std::unordered_map<std::string_view, size_t> byText;
    std::unordered_map<AddressKey, size_t, AddressKeyHash> byAddress;
    auto groupOf = [this](auto& map, auto key, auto makeName) -> ConnectionGroup& {
        auto [found, added] = map.try_emplace(key, m_Groups.size());
        if (added) m_Groups.push_back({makeName(), {}});
        return m_Groups[found->second];
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        const EntryObj* entry = entries[i];
        std::string_view text;
        const MonNetAddress* address = nullptr;
        switch (by) {
            case GroupBy::User:
                text = entry->m_UserName;
                break;
            case GroupBy::Service:
                text = entry->m_Service;
                break;
            case GroupBy::Destination:
                text = entry->m_DestName;
                if (text.empty()) address = &entry->m_Dest;
                break;
            case GroupBy::Client:
                address = &entry->m_Source;
                if (KeyOf(*address).IsNone()) text = entry->m_SourceName;
                break;
            case GroupBy::Server:
                if (i < servers.size()) text = servers[i];
                break;
            case GroupBy::Connection:
                break;
        }
        const AddressKey key = address != nullptr ? KeyOf(*address) : AddressKey{};
        ConnectionGroup& group =
            !key.IsNone() ? groupOf(byAddress, key, [address] { return Mon_AddressText(*address); })
                          : groupOf(byText, text, [text] { return std::string(text); });
        group.m_Totals.Add(*entry);
    }
}

std::string ConnectionGroups::GroupName(GroupBy by, const EntryObj& entry) {
    switch (by) {
        case GroupBy::User:
            return entry.m_UserName;
        case GroupBy::Destination:
            return DestinationKey(entry);
        case GroupBy::Service:
            return entry.m_Service;
        case GroupBy::Client:
            return ClientKey(entry);
        case GroupBy::Server:
            return std::string();
        case GroupBy::Connection:
            break;
    }
    return entry.m_Key;
}

std::string ConnectionGroups::FilterTerm(GroupBy by, const std::string& name) {
    switch (by) {
        case GroupBy::User:
            return ConnectionFilter::ExactTerm("user", name);
        case GroupBy::Destination:
            return ConnectionFilter::ExactTerm("dest", name);
        case GroupBy::Service:
            return ConnectionFilter::ExactTerm("service", name);
        case GroupBy::Client:
            return ConnectionFilter::ExactTerm("src", name);
        case GroupBy::Server:
            return ConnectionFilter::ExactTerm("server", name);
        case GroupBy::Connection:
            break;
    }
    return std::string();
}

const char* ConnectionGroups::Title(GroupBy by) {
    switch (by) {
        case GroupBy::User:
            return "User";
        case GroupBy::Destination:
            return "Destination";
        case GroupBy::Service:
            return "Service";
        case GroupBy::Client:
            return "Client";
        case GroupBy::Server:
            return "Server";
        case GroupBy::Connection:
            break;
    }
    return "Connection";
}
