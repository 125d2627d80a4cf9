#pragma once
// What one session's polls bring that the fleet's views and alerts watch:
// failed logins, each user's traffic, the connections that meet the alerts'
// filter lines, and the session's traffic over its last polls. The traffic
// and the finished connections are read from what the history's recorder
// gathered for the poll; only the filter lines need each record, so only
// while there are some does the table tell this of them (it stands in front
// of the recorder then, which it tells in turn). Each poll ends with PollDone.

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/history/HistoryBatch.h"
#include "core/table/TableObserver.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"

// The result a monitor gives a connection whose login failed.
constexpr int32_t FailedLoginResult = 0x101;

struct PollActivity {
    int64_t m_Time = 0;     // when the poll was applied, seconds since 1970
    int64_t m_Seconds = 0;  // since the poll before; 0 for the first of a connection
    std::vector<std::string> m_FailedLogins;                // the client address of each
    std::unordered_map<std::string, uint64_t> m_UserBytes;  // in and out, by user name
    std::vector<uint32_t> m_Matches;  // per filter line: new connections meeting it
};

// A poll's traffic, in bytes a second.
struct TrafficRate {
    double m_In = 0;
    double m_Out = 0;
};

class ServerActivity : public TableObserver {
public:
    static constexpr size_t RecentPolls = 60;

    // `next` is told of every record as well; may be null.
    explicit ServerActivity(TableObserver* next = nullptr) : m_pNext(next) {}

    // The server's name, for the filters' server: terms.
    void SetServer(const std::string& name);
    // The lines whose matches PollDone counts, in this order.
    void SetFilters(const std::vector<std::string>& lines);
    // Whether PollDone counts each user's bytes (a rule on users' traffic
    // needs them); off, a poll costs no look-up by name.
    void SetCountUsers(bool count) { m_bCountUsers = count; }
    // A new connection to the monitor: its first poll carries what moved
    // before it, which counts for nothing.
    void Connected();

    // The poll has been applied and the recorder has handed over its batch:
    // what the poll brought since the last one.
    PollActivity PollDone(int64_t now, const HistoryBatch& batch);
    // The table must tell this of each record: some filter line is to be matched.
    bool NeedsRecords() const { return !m_Filters.empty(); }

    // Failed logins in the minute up to `now`.
    size_t FailedLoginsLastMinute(int64_t now) const;
    // The rates of the last polls, the newest last.
    const std::deque<TrafficRate>& RecentRates() const { return m_Recent; }
    TrafficRate LastRate() const { return m_Recent.empty() ? TrafficRate{} : m_Recent.back(); }
    // When the last poll was applied; 0 before any.
    int64_t LastPollTime() const { return m_LastPoll; }

    void EntryChanged(const EntryObj& entry, uint64_t growthIn, uint64_t growthOut,
                      bool opened) override;
    void EntryFinished(const EntryObj& entry, const MonitorRecord& record) override;

private:
    void CountMatches(const EntryObj& entry, bool finished);
    void TakeBatch(const HistoryBatch& batch, PollActivity& done);

    TableObserver* m_pNext;
    std::string m_Server;
    std::vector<ConnectionFilter> m_Filters;
    std::vector<std::unordered_set<uint64_t>> m_Counted;  // per filter: ids already counted
    FilterIndex m_Index;                                  // of the one connection being matched
    std::unordered_set<uint64_t> m_Opening;  // opened in this poll: matched at each record
    PollActivity m_Poll;
    bool m_bBaseline = true;
    bool m_bCountUsers = false;
    int64_t m_LastPoll = 0;
    std::deque<int64_t> m_FailedTimes;  // of the last minute's failed logins
    std::deque<TrafficRate> m_Recent;
};
