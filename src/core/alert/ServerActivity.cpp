#include "core/alert/ServerActivity.h"

#include "core/monitor/MonNetAddress.h"
#include "core/table/EntryObj.h"

namespace {

uint64_t IdOf(const EntryObj& entry) {
    return (static_cast<uint64_t>(entry.m_IdHigh) << 32) | entry.m_IdLow;
}

}  // namespace

void ServerActivity::SetServer(const std::string& name) {
    m_Server = name;
    m_Index.SetServer(name);
}

void ServerActivity::SetFilters(const std::vector<std::string>& lines) {
    m_Filters.assign(lines.size(), ConnectionFilter());
    for (size_t i = 0; i < lines.size(); ++i) m_Filters[i].SetText(lines[i]);
    m_Counted.assign(lines.size(), {});
    m_Poll.m_Matches.assign(lines.size(), 0);
}

void ServerActivity::Connected() {
    m_bBaseline = true;
    for (auto& counted : m_Counted) counted.clear();
}

PollActivity ServerActivity::PollDone(int64_t now, const HistoryBatch& batch) {
    PollActivity done = std::move(m_Poll);
    done.m_Time = now;
    done.m_Seconds = m_bBaseline || m_LastPoll == 0 ? 0 : now - m_LastPoll;
    if (m_bBaseline) {
        // What the first poll brings happened before this connection.
        done.m_Matches.assign(m_Filters.size(), 0);
        m_bBaseline = false;
    } else {
        TakeBatch(batch, done);
        for (size_t i = 0; i < done.m_FailedLogins.size(); ++i) m_FailedTimes.push_back(now);
    }
    while (!m_FailedTimes.empty() && m_FailedTimes.front() <= now - 60) m_FailedTimes.pop_front();
    m_LastPoll = now;
    m_Opening.clear();
    m_Poll = PollActivity();
    m_Poll.m_Matches.assign(m_Filters.size(), 0);
    return done;
}

// The history's recorder has copied each record's growth and each finished
// connection already: what the poll moved is read from there.
void ServerActivity::TakeBatch(const HistoryBatch& batch, PollActivity& done) {
    uint64_t in = 0, out = 0;
    for (const HistoryPeriod& period : batch.m_Periods) {
        for (const HistoryGrowth& growth : period.m_Growth) {
            in += growth.m_In;
            out += growth.m_Out;
            if (m_bCountUsers && growth.m_User.m_Length > 0) {
                done.m_UserBytes[std::string(batch.Text(growth.m_User))] +=
                    growth.m_In + growth.m_Out;
            }
        }
    }
    for (const HistoryFinished& finished : batch.m_Finished) {
        if (finished.m_Status == 1 && finished.m_ResultCode == FailedLoginResult) {
            done.m_FailedLogins.push_back(Mon_AddressText(finished.m_SourceAddr));
        }
    }
    const double seconds = done.m_Seconds > 0 ? static_cast<double>(done.m_Seconds) : 1.0;
    m_Recent.push_back({static_cast<double>(in) / seconds, static_cast<double>(out) / seconds});
    if (m_Recent.size() > RecentPolls) m_Recent.pop_front();
}

size_t ServerActivity::FailedLoginsLastMinute(int64_t now) const {
    size_t count = 0;
    for (int64_t time : m_FailedTimes) count += time > now - 60 ? 1 : 0;
    return count;
}

void ServerActivity::EntryChanged(const EntryObj& entry, uint64_t growthIn, uint64_t growthOut,
                                  bool opened) {
    if (m_pNext) m_pNext->EntryChanged(entry, growthIn, growthOut, opened);
    if (m_Filters.empty()) return;
    // A connection's names and destination come in the records after its
    // open, mostly in the same batch: it is matched again as they come.
    if (opened) {
        m_Opening.insert(IdOf(entry));
        CountMatches(entry, false);
    } else if (m_Opening.count(IdOf(entry)) > 0) {
        CountMatches(entry, false);
    }
}

void ServerActivity::EntryFinished(const EntryObj& entry, const MonitorRecord& record) {
    if (m_pNext) m_pNext->EntryFinished(entry, record);
    if (m_Filters.empty()) return;
    m_Opening.erase(IdOf(entry));
    CountMatches(entry, true);
}

// A connection counts once for a filter, when it first meets it: in the
// poll that opened it, or at its end, once its result is known.
void ServerActivity::CountMatches(const EntryObj& entry, bool finished) {
    if (m_Filters.empty()) return;
    m_Index.Build({&entry});
    const uint64_t id = IdOf(entry);
    for (size_t i = 0; i < m_Filters.size(); ++i) {
        auto& counted = m_Counted[i];
        const bool known = counted.count(id) > 0;
        if (!known && !m_Filters[i].KeepsAll() && m_Filters[i].Matches(m_Index, 0)) {
            ++m_Poll.m_Matches[i];
            if (!finished) counted.insert(id);
        }
        if (finished && known) counted.erase(id);
    }
}
