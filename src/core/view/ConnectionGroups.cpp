#include "core/view/ConnectionGroups.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "core/table/EntryObj.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/EntryKeys.h"

// An address of either family as one 128-bit number, its port left out: IPv4
// as the IPv6 address that maps it. All zero for none (and for 0.0.0.0).
ConnectionGroups::AddressKey ConnectionGroups::KeyOf(const MonNetAddress& address) {
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

size_t ConnectionGroups::AddressKeyHash::operator()(const AddressKey& key) const {
    return std::hash<uint64_t>()(key.m_High * 0x9E3779B97F4A7C15ull ^ key.m_Low);
}

void ConnectionGroups::Build(GroupBy by, const std::vector<const EntryObj*>& entries,
                             const std::vector<std::string_view>& servers) {
    Begin(by, entries, servers);
    Continue(entries.size());
}

// Groups are found by a view of the entry's own text or by the address
// itself, so that 100,000 connections make no string each.
void ConnectionGroups::Begin(GroupBy by, std::vector<const EntryObj*> entries,
                             std::vector<std::string_view> servers) {
    m_By = by;
    m_Groups.clear();
    m_ByText.clear();
    m_ByAddress.clear();
    m_Entries = by == GroupBy::Connection ? std::vector<const EntryObj*>() : std::move(entries);
    m_Servers = std::move(servers);
    m_nNext = 0;
    // Grown once, not rehashed on the way: a rehash of 100,000 keys is a
    // frame's work.
    if (by == GroupBy::Client || by == GroupBy::Destination) {
        m_ByAddress.reserve(m_Entries.size());
        m_ByText.reserve(by == GroupBy::Destination ? m_Entries.size() : 0);
    }
}

bool ConnectionGroups::Continue(size_t count) {
    const size_t end = std::min(m_Entries.size(), m_nNext + count);
    for (; m_nNext < end; ++m_nNext) Add(m_nNext);
    if (m_nNext < m_Entries.size()) return false;
    m_Entries.clear();
    m_Servers.clear();
    m_ByText.clear();
    m_ByAddress.clear();
    return true;
}

void ConnectionGroups::Add(size_t at) {
    auto groupOf = [this](auto& map, auto key, auto makeName) -> ConnectionGroup& {
        auto [found, added] = map.try_emplace(key, m_Groups.size());
        if (added) m_Groups.push_back({makeName(), {}});
        return m_Groups[found->second];
    };
    const EntryObj* entry = m_Entries[at];
    std::string_view text;
    const MonNetAddress* address = nullptr;
    switch (m_By) {
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
            if (at < m_Servers.size()) text = m_Servers[at];
            break;
        case GroupBy::Connection:
            break;
    }
    const AddressKey key = address != nullptr ? KeyOf(*address) : AddressKey{};
    ConnectionGroup& group =
        !key.IsNone() ? groupOf(m_ByAddress, key, [address] { return Mon_AddressText(*address); })
                      : groupOf(m_ByText, text, [text] { return std::string(text); });
    group.m_Totals.Add(*entry);
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
