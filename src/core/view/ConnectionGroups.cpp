#include "core/view/ConnectionGroups.h"

#include <unordered_map>

#include "core/table/EntryObj.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/EntryKeys.h"

void ConnectionGroups::Build(GroupBy by, const std::vector<const EntryObj*>& entries) {
    m_By = by;
    m_Groups.clear();
    if (by == GroupBy::Connection) return;
    std::unordered_map<std::string, size_t> groupOf;
    for (const EntryObj* entry : entries) {
        std::string name = GroupName(by, *entry);
        auto [found, added] = groupOf.try_emplace(name, m_Groups.size());
        if (added) m_Groups.push_back({std::move(name), {}});
        m_Groups[found->second].m_Totals.Add(*entry);
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
