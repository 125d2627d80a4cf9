#include "core/view/ControlTargets.h"

#include <algorithm>

#include "core/monitor/MonNetAddress.h"
#include "core/table/EntryObj.h"

namespace {

void AddOnce(std::vector<std::string>& list, std::string value) {
    if (value.empty() || std::find(list.begin(), list.end(), value) != list.end()) return;
    list.push_back(std::move(value));
}

}  // namespace

std::string ControlTargets::ClientOf(const EntryObj& entry) {
    const std::string address = Mon_AddressText(entry.m_Source);
    return address.empty() ? entry.m_SourceName : address;
}

std::string ControlTargets::DestinationOf(const EntryObj& entry) {
    return entry.m_DestName.empty() ? Mon_AddressText(entry.m_Dest) : entry.m_DestName;
}

ControlTargets ControlTargets::Of(const std::vector<const EntryObj*>& entries) {
    ControlTargets targets;
    for (const EntryObj* entry : entries) {
        if (entry->m_Status == 0 && !entry->m_bFinished) {
            targets.m_Open.emplace_back(entry->m_IdHigh, entry->m_IdLow);
            const std::string who = entry->m_UserName.empty() ? "" : entry->m_UserName + " ";
            targets.m_OpenText.push_back(who + ClientOf(*entry) + " to " + DestinationOf(*entry));
        }
        AddOnce(targets.m_Users, entry->m_UserName);
        AddOnce(targets.m_Clients, ClientOf(*entry));
        AddOnce(targets.m_Destinations, DestinationOf(*entry));
    }
    return targets;
}
