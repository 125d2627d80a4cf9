// Connections reported in the second version of the records: 64-bit growth
// in the table, and IPv6 networks in the filter of both the live grid and
// the History grid.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/history/HistoryQuery.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryStore.h"
#include "core/monitor/MonEncode.h"
#include "core/monitor/MonNetAddress.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"
#include "support/TempFolder.h"

namespace {

MonNetAddress Address(const char* text, uint16_t port = 0) {
    MonNetAddress address{};
    EXPECT_TRUE(Mon_ParseAddress(text, address));
    address.m_Port = port;
    return address;
}

uint64_t Apply(EntryObj& entry, const MonBytes& body) {
    MonitorRecord record{};
    EXPECT_EQ(Mon_DecodeVersion(2, static_cast<uint16_t>(body.size()), body.data(), &record), 0);
    uint64_t delta = 0;
    EXPECT_EQ(entry.Apply(record, delta), 1);
    return delta;
}

TEST(Ipv6RecordsTest, WideTotalsGrowByTheirDifferenceAndNeverWrap) {
    EntryObj entry;
    Apply(entry, EncodeOpen2(1, 1, 0, 1765000000, "ann", Address("2001:db8::7", 5), ""));
    EXPECT_EQ(Apply(entry, EncodeUpdate2(1, 1, "www", {}, "", {}, "", 0xFFFFFFF0u, 1)),
              0xFFFFFFF1u);
    // Past 2^32 in one record: the growth is the difference, not modulo 2^32.
    EXPECT_EQ(Apply(entry, EncodeUpdate2(1, 1, "", {}, "", {}, "", (uint64_t{3} << 32), 1)),
              (uint64_t{3} << 32) - 0xFFFFFFF0u);
    EXPECT_EQ(entry.m_TotalIn, uint64_t{3} << 32);
    // A total that went down is no growth (a counter started again), not a wrap.
    EXPECT_EQ(Apply(entry, EncodeUpdate2(1, 1, "", {}, "", {}, "", 100, 1)), 0u);
    entry.SetDisplay(0, 0, 1765000050);
    EXPECT_EQ(entry.GetColumnText(Column::Source), "2001:db8::7");
    Apply(entry, EncodeClose2(1, 1, 1765000040));
    EXPECT_EQ(entry.m_EndTime, 1765000040);
}

TEST(Ipv6RecordsTest, Ipv6NetworksChooseTheSameConnectionsLiveAndInHistory) {
    TempFolder folder;
    std::vector<EntryObj> entries(3);
    const char* const sources[] = {"2001:db8:1::5", "2001:db8:1::50", "10.1.2.3"};
    const char* const users[] = {"ann", "bob", "cat"};
    for (uint32_t i = 0; i < 3; ++i) {
        Apply(entries[i],
              EncodeOpen2(1, i + 1, 0, 1765000000, users[i], Address(sources[i], 999), ""));
        Apply(entries[i],
              EncodeUpdate2(1, i + 1, "www", {}, "", Address("2001:db8:2::1", 443), "", 5, 5));
    }
    std::vector<const EntryObj*> shown;
    for (const EntryObj& entry : entries) shown.push_back(&entry);
    FilterIndex index;
    index.Build(shown);

    PMCTable table;
    HistoryRecorder recorder;
    recorder.Connected("proxy.example", 1000);
    recorder.PeriodDone(table, 1060);
    for (EntryObj& entry : entries) {
        MonitorRecord close{};
        close.m_Version = 2;
        close.m_EndTime64 = 1765000100;
        entry.m_Status = 2;
        entry.m_bFinished = 1;
        recorder.EntryFinished(entry, close);
    }
    const std::string path = folder.File("history.sqlite3");
    {
        HistoryStore store(path);
        store.Open(2000);
        store.Write(recorder.PeriodDone(table, 1120));
    }
    HistoryQuery query;
    query.Open(path);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"src:2001:db8:1::/48", "ann,bob"},
        {"src:2001:db8:1::5", "ann"},  // one address, not every one that starts so
        {"-src:2001:db8::/32", "cat"},
        {"dest:2001:db8:2::/64", "ann,bob,cat"},
        {"src:10.0.0.0/8", "cat"},
    };
    for (const auto& [line, kept] : cases) {
        ConnectionFilter filter;
        ASSERT_TRUE(filter.SetText(line)) << line;
        std::string live;
        for (size_t row : filter.Select(index))
            live += (live.empty() ? "" : ",") + index.Entry(row)->m_UserName;
        EXPECT_EQ(live, kept) << line;

        HistoryRange range;
        range.m_To = INT64_MAX;
        range.m_Filter = HistoryFilter::Parse(line);
        std::string stored;
        for (const HistoryConnection& c : query.Page(range, HistoryQuery::ColUser, true, 0, 10))
            stored += (stored.empty() ? "" : ",") + c.m_User;
        EXPECT_EQ(stored, kept) << line;
    }
}

}  // namespace
