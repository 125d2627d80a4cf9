#pragma once
// The reading side of the history: opens the file read-only (beside the
// writer, or from another process) and answers the History view: the
// servers, a page of finished connections, their count and totals, the
// traffic in time buckets, and the usage per user and day or month. Each
// query raises HistoryError on failure.

#include <cstdint>
#include <string>
#include <vector>

#include "core/history/HistoryBatch.h"
#include "core/history/HistoryDatabase.h"
#include "core/history/HistoryFilter.h"

// Connections that ended, and periods, in [m_From, m_To) of these servers
// (all when none is named) that pass the filter.
struct HistoryRange {
    int64_t m_From = 0;
    int64_t m_To = 0;
    std::vector<std::string> m_Servers;
    HistoryFilter m_Filter;
};

// Users of different servers are different people: with more than one
// server in the answer, a user's total (and line) is one per server, and
// m_Server names it; otherwise m_Server is empty.
struct HistoryTotal {
    std::string m_Name;
    std::string m_Server;
    int64_t m_Connections = 0;
    uint64_t m_In = 0;
    uint64_t m_Out = 0;
};

// Traffic (in plus out) per name and bucket; m_Values[name][bucket].
struct HistorySeries {
    int64_t m_BucketSeconds = 0;
    std::vector<int64_t> m_BucketStarts;
    std::vector<std::string> m_Names;
    std::vector<std::string> m_Servers;  // beside m_Names, as HistoryTotal::m_Server
    std::vector<std::vector<uint64_t>> m_Values;
};

// Connections of one user that ended in one UTC calendar day or month, on one
// server when split by server (else m_Server is empty). m_Seconds sums their
// durations.
struct HistoryUsage {
    std::string m_Period;  // 2026-12-09, or 2026-12
    std::string m_Server;
    std::string m_User;
    int64_t m_Connections = 0;
    uint64_t m_In = 0;
    uint64_t m_Out = 0;
    int64_t m_Seconds = 0;
};

class HistoryQuery {
public:
    // The grid's columns, also the sort keys of Page.
    enum Column {
        ColEnd,
        ColServer,
        ColUser,
        ColSource,
        ColDestination,
        ColService,
        ColStart,
        ColDuration,
        ColIn,
        ColOut,
        ColTotal,
        ColResult,
        ColAuth,
        ColNextServer,
        ColumnCount
    };
    enum TotalsBy { ByUser, ByDestination, ByService };

    void Open(const std::string& path);  // read-only
    bool IsOpen() const { return m_Db.IsOpen(); }

    std::vector<std::string> Servers();
    int64_t Count(const HistoryRange& range);
    std::vector<HistoryConnection> Page(const HistoryRange& range, int sortColumn, bool ascending,
                                        int64_t offset, int64_t limit);
    std::vector<HistoryTotal> Totals(const HistoryRange& range, TotalsBy by);
    HistorySeries Traffic(const HistoryRange& range, bool byUser);
    // Sorted by period, server and user.
    std::vector<HistoryUsage> Usage(const HistoryRange& range, bool perMonth, bool perServer);
    // The times of the oldest and the newest record (a connection's end, a
    // period); false when the file holds none.
    bool Span(int64_t& first, int64_t& last);

    // A bucket from a minute to a day that gives a span at most about a hundred points.
    static int64_t BucketFor(int64_t span);

private:
    HistoryDatabase m_Db;
};
