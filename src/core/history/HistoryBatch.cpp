#include "core/history/HistoryBatch.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "core/table/EntryObj.h"

namespace {

// The texts of a batch are found by 32-bit offsets.
constexpr size_t TextsLimit = std::numeric_limits<uint32_t>::max();

void AddressText(const HistoryFinished::Address& addr, std::string& text) {
    char made[MonAddressTextSize];
    text.assign(made, Mon_PutAddress(addr, made));
}

void Rebase(HistoryFinished& f, uint32_t base) {
    for (HistoryText* text : {&f.m_Server, &f.m_Key, &f.m_User, &f.m_SourceName, &f.m_DestName,
                              &f.m_Service, &f.m_NextServerName, &f.m_ResultText})
        text->m_Offset += base;
}

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

void HistoryBatch::Expand(const HistoryFinished& f, HistoryConnection& c) const {
    c.m_Server.assign(Text(f.m_Server));
    c.m_Key.assign(Text(f.m_Key));
    c.m_User.assign(Text(f.m_User));
    AddressText(f.m_SourceAddr, c.m_SourceAddr);
    c.m_SourceName.assign(Text(f.m_SourceName));
    AddressText(f.m_DestAddr, c.m_DestAddr);
    c.m_DestName.assign(Text(f.m_DestName));
    c.m_Service.assign(Text(f.m_Service));
    if (f.m_NextServerName.m_Length != 0) {
        c.m_NextServer.assign(Text(f.m_NextServerName));
    } else {
        AddressText(f.m_NextServerAddr, c.m_NextServer);
    }
    c.m_ResultText.assign(Text(f.m_ResultText));
    c.m_StartTime = f.m_StartTime;
    c.m_EndTime = f.m_EndTime;
    c.m_BytesIn = f.m_BytesIn;
    c.m_BytesOut = f.m_BytesOut;
    c.m_ResultCode = f.m_ResultCode;
    c.m_Status = f.m_Status;
    c.m_AuthMethod = f.m_AuthMethod;
}

void HistoryBatch::CountTraffic(const HistoryPeriod& period,
                                std::map<std::string, HistoryTraffic>& services,
                                std::map<std::string, HistoryTraffic>& users) const {
    services = period.m_Services;
    users = period.m_Users;
    if (period.m_Growth.empty()) return;
    // Summed by the texts in place first: a few names take the many records.
    std::unordered_map<std::string_view, HistoryTraffic> byService;
    std::unordered_map<std::string_view, HistoryTraffic> byUser;
    for (const HistoryGrowth& growth : period.m_Growth) {
        for (auto [sums, text] :
             {std::pair{&byService, growth.m_Service}, std::pair{&byUser, growth.m_User}}) {
            HistoryTraffic& sum = (*sums)[Text(text)];
            sum.m_In += growth.m_In;
            sum.m_Out += growth.m_Out;
        }
    }
    auto addAll = [](const std::unordered_map<std::string_view, HistoryTraffic>& from,
                     std::map<std::string, HistoryTraffic>& into) {
        for (const auto& [name, traffic] : from) {
            HistoryTraffic& sum = into[std::string(name)];
            sum.m_In += traffic.m_In;
            sum.m_Out += traffic.m_Out;
        }
    };
    addAll(byService, services);
    addAll(byUser, users);
}

void HistoryBatch::CountGrowth() {
    for (HistoryPeriod& period : m_Periods) {
        if (period.m_Growth.empty()) continue;
        CountTraffic(period, period.m_Services, period.m_Users);
        period.m_Growth.clear();
    }
}

void HistoryBatch::Absorb(HistoryBatch&& later) {
    // The periods' growth refers to each batch's own texts.
    CountGrowth();
    later.CountGrowth();
    std::move(later.m_Connections.begin(), later.m_Connections.end(),
              std::back_inserter(m_Connections));
    if (m_Texts.size() + later.m_Texts.size() <= TextsLimit) {
        const auto base = static_cast<uint32_t>(m_Texts.size());
        m_Texts.append(later.m_Texts);
        for (HistoryFinished& f : later.m_Finished) {
            Rebase(f, base);
            m_Finished.push_back(f);
        }
    } else {
        // Past what the offsets reach the later ones are kept whole instead.
        for (const HistoryFinished& f : later.m_Finished)
            later.Expand(f, m_Connections.emplace_back());
    }
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
