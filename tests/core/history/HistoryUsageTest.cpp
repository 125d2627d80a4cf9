// What one user did on each of two servers: told apart in the totals and the
// graph, and counted per UTC day and month for the usage report.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/history/HistoryQuery.h"
#include "core/history/HistoryStore.h"
#include "support/TempFolder.h"

namespace {

constexpr int64_t Nov30At2300 = 1796079600;
constexpr int64_t Dec9At1000 = 1796810400;
constexpr int64_t Dec9At2359 = 1796860740;
constexpr int64_t Dec10At0030 = 1796862600;

HistoryConnection UsageConnection(const std::string& server, const std::string& user, int64_t end,
                                  int64_t seconds, uint64_t in) {
    HistoryConnection c;
    c.m_Server = server;
    c.m_Key = "1:" + std::to_string(end);
    c.m_User = user;
    c.m_Service = "www";
    c.m_StartTime = end - seconds;
    c.m_EndTime = end;
    c.m_BytesIn = in;
    c.m_BytesOut = 1;
    return c;
}

HistoryPeriod UsagePeriod(const std::string& server, int64_t end, uint64_t in) {
    HistoryPeriod period;
    period.m_Server = server;
    period.m_Time = end;
    period.m_Seconds = 60;
    period.m_Users["alice"] = {in, 0};
    return period;
}

HistoryRange AllOf(std::vector<std::string> servers = {}) {
    HistoryRange range;
    range.m_From = 0;
    range.m_To = INT64_MAX;
    range.m_Servers = std::move(servers);
    return range;
}

class HistoryUsageTest : public ::testing::Test {
protected:
    HistoryUsageTest() {
        HistoryBatch batch;
        batch.m_Connections = {UsageConnection("proxy-a", "alice", Nov30At2300, 60, 100),
                               UsageConnection("proxy-a", "alice", Dec9At1000, 3600, 200),
                               UsageConnection("proxy-a", "alice", Dec9At2359, 7200, 300),
                               UsageConnection("proxy-b", "alice", Dec9At2359, 5, 400),
                               UsageConnection("proxy-a", "bob", Dec10At0030, 0, 500)};
        batch.m_Periods = {UsagePeriod("proxy-a", Dec9At1000, 10),
                           UsagePeriod("proxy-b", Dec9At1000, 20)};
        HistoryStore store(m_Path);
        store.Open(Dec10At0030);
        store.Write(batch);
        m_Query.Open(m_Path);
    }

    TempFolder m_Folder;
    std::string m_Path = m_Folder.File("history.sqlite3");
    HistoryQuery m_Query;
};

}  // namespace

TEST_F(HistoryUsageTest, AUserOnTwoServersIsTwoUsersUnlessOneServerIsChosen) {
    const std::vector<HistoryTotal> all = m_Query.Totals(AllOf(), HistoryQuery::ByUser);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].m_Name + " @ " + all[0].m_Server, "alice @ proxy-a");
    EXPECT_EQ(all[0].m_Connections, 3);
    EXPECT_EQ(all[1].m_Name + " @ " + all[1].m_Server, "bob @ proxy-a");
    EXPECT_EQ(all[2].m_Name + " @ " + all[2].m_Server, "alice @ proxy-b");
    EXPECT_EQ(all[2].m_In, 400u);
    const HistorySeries lines = m_Query.Traffic(AllOf(), true);
    EXPECT_EQ(lines.m_Names, (std::vector<std::string>{"alice", "alice"}));
    EXPECT_EQ(lines.m_Servers, (std::vector<std::string>{"proxy-a", "proxy-b"}));

    const std::vector<HistoryTotal> one = m_Query.Totals(AllOf({"proxy-a"}), HistoryQuery::ByUser);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].m_Name, "alice");
    EXPECT_EQ(one[0].m_Server, "");
    EXPECT_EQ(m_Query.Traffic(AllOf({"proxy-b"}), true).m_Servers, std::vector<std::string>{""});
    // Destinations and services stay one row whatever the servers.
    EXPECT_EQ(m_Query.Totals(AllOf(), HistoryQuery::ByService).size(), 1u);
}

TEST_F(HistoryUsageTest, UsageIsCountedPerUtcDayOrMonthWithTheDurationsSummed) {
    const std::vector<HistoryUsage> days = m_Query.Usage(AllOf(), false, true);
    ASSERT_EQ(days.size(), 4u);
    EXPECT_EQ(days[0].m_Period, "2026-11-30");
    EXPECT_EQ(days[1].m_Period + " " + days[1].m_Server + " " + days[1].m_User,
              "2026-12-09 proxy-a alice");
    EXPECT_EQ(days[1].m_Connections, 2);
    EXPECT_EQ(days[1].m_In, 500u);
    EXPECT_EQ(days[1].m_Out, 2u);
    EXPECT_EQ(days[1].m_Seconds, 3600 + 7200);
    EXPECT_EQ(days[2].m_Server, "proxy-b");
    EXPECT_EQ(days[3].m_Period + " " + days[3].m_User, "2026-12-10 bob");

    const std::vector<HistoryUsage> months = m_Query.Usage(AllOf(), true, false);
    ASSERT_EQ(months.size(), 3u);
    EXPECT_EQ(months[0].m_Period + " " + months[0].m_User, "2026-11 alice");
    EXPECT_EQ(months[0].m_Seconds, 60);
    EXPECT_EQ(months[1].m_Period + " " + months[1].m_User, "2026-12 alice");
    EXPECT_EQ(months[1].m_Server, "");
    EXPECT_EQ(months[1].m_Connections, 3);
    EXPECT_EQ(months[1].m_Seconds, 3600 + 7200 + 5);
    EXPECT_EQ(months[2].m_User, "bob");
    EXPECT_EQ(months[2].m_Seconds, 0);
}
