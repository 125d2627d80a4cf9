#include "core/view/ConnectionGroups.h"

#include <string_view>
#include <unordered_map>

#include "core/table/EntryObj.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/EntryKeys.h"

// Groups are found by a view of the entry's own text or by the address
// itself, so that 100,000 connections make no string each.
void ConnectionGroups::Build(GroupBy by, const std::vector<const EntryObj*>& entries) {
    m_By = by;
    m_Groups.clear();
    if (by == GroupBy::Connection) return;
    std::unordered_map<std::string_view, size_t> byText;
    std::unordered_map<uint32_t, size_t> byAddress;
    auto groupOf = [this](auto& map, auto key, auto makeName) -> ConnectionGroup& {
        auto [found, added] = map.try_emplace(key, m_Groups.size());
        if (added) m_Groups.push_back({makeName(), {}});
        return m_Groups[found->second];
    };
    for (const EntryObj* entry : entries) {
        std::string_view text;
        uint32_t address = 0;
        switch (by) {
            case GroupBy::User:
                text = entry->m_UserName;
                break;
            case GroupBy::Service:
                text = entry->m_Service;
                break;
            case GroupBy::Destination:
                text = entry->m_DestName;
                if (text.empty()) address = AddressValue(entry->m_DestAddr);
                break;
            case GroupBy::Client:
                address = AddressValue(entry->m_SourceAddr);
                if (address == 0) text = entry->m_SourceName;
                break;
            case GroupBy::Connection:
                break;
        }
        ConnectionGroup& group =
            address != 0 ? groupOf(byAddress, address,
                                   [address] {
                                       char name[16];
                                       return std::string(name, PutAddress(address, name));
                                   })
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
        case GroupBy::Connection:
            break;
    }
    return "Connection";
}
