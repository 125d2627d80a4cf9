// A session hands what it sees to the history: finished connections, the
// periods' traffic and its connects and disconnects reach the file of the
// user's data folder (the test's own, set by ctest).

#include <QDir>
#include <ctime>

#include "core/history/HistoryPath.h"
#include "core/history/HistoryQuery.h"
#include "gui/history/HistoryService.h"
#include "gui/session/SessionFixture.h"

TEST_F(SessionTest, FinishedConnectionsAndTheSessionsEventsAreRecorded) {
    ASSERT_EQ(QString::fromStdString(HistoryDefaultPath()),
              QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("vgl/history.sqlite3"));
    HistoryService::Instance().Clear();
    const auto ended = static_cast<uint32_t>(std::time(nullptr) - 100);  // kept 30 days
    m_Monitor.QueueBatch(Connection(1, "www", 100, 200));
    m_Monitor.QueueBatch(
        Join({{EncodeUpdate(7, 1, "", {}, "", {}, "", 1100, 700)}, {EncodeClose(7, 1, ended)}}));
    Connect(m_Monitor.Host());
    Tick(60);
    m_pDoc->OnDisconnect();
    HistoryService::Instance().Flush();

    HistoryQuery query;
    query.Open(HistoryDefaultPath());
    HistoryRange all;
    all.m_To = INT64_MAX;
    const auto rows = query.Page(all, HistoryQuery::ColEnd, true, 0, 10);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].m_Server, m_Monitor.Host());
    EXPECT_EQ(rows[0].m_User, "user1");
    EXPECT_EQ(rows[0].m_BytesIn, 1100u);
    EXPECT_EQ(rows[0].m_EndTime, ended);
    EXPECT_EQ(query.Servers(), std::vector<std::string>{m_Monitor.Host()});
    // The first poll is the baseline; the second brought 1000 in and 500 out.
    const HistorySeries services = query.Traffic(all, false);
    ASSERT_EQ(services.m_Names, std::vector<std::string>{"www"});
    uint64_t sum = 0;
    for (uint64_t value : services.m_Values[0]) sum += value;
    EXPECT_EQ(sum, 1500u);
    EXPECT_TRUE(m_Messages.isEmpty());
}
