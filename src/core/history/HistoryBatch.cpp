#include "core/history/HistoryBatch.h"

#include <algorithm>
#include <iterator>

namespace {

void AddTraffic(std::map<std::string, HistoryTraffic>& into,
                const std::map<std::string, HistoryTraffic>& from) {
    for (const auto& [name, traffic] : from) {
        HistoryTraffic& sum = into[name];
        sum.m_In += traffic.m_In;
        sum.m_Out += traffic.m_Out;
    }
}

}  // namespace

void HistoryPeriod::Absorb(const HistoryPeriod& later) {
    m_Seconds += later.m_Seconds;
    m_Time = std::max(m_Time, later.m_Time);
    AddTraffic(m_Services, later.m_Services);
    AddTraffic(m_Users, later.m_Users);
    m_Active = later.m_Active;
    m_Opened += later.m_Opened;
    m_Closed += later.m_Closed;
    m_Failed += later.m_Failed;
}

void HistoryBatch::Absorb(HistoryBatch&& later) {
    std::move(later.m_Connections.begin(), later.m_Connections.end(),
              std::back_inserter(m_Connections));
    std::move(later.m_Events.begin(), later.m_Events.end(), std::back_inserter(m_Events));
    for (HistoryPeriod& period : later.m_Periods) {
        auto same = std::find_if(m_Periods.begin(), m_Periods.end(), [&](const HistoryPeriod& p) {
            return p.m_Server == period.m_Server;
        });
        if (same != m_Periods.end()) {
            same->Absorb(period);
        } else {
            m_Periods.push_back(std::move(period));
        }
    }
}
