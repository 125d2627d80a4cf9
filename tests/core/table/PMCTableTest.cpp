// The connection table driven through whole polls by a fake monitor over
// real loopback sockets.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/base/Trace.h"
#include "core/base/WaitCursor.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "support/FakeMonitor.h"
#include "support/GridColumns.h"
#include "support/RecordEncoder.h"

void FailNextAllocation(bool fail);  // FailNextAllocation.cpp

namespace {


MonBytes OpenRec(uint32_t id, uint32_t high = 1) {
    return EncodeOpen(high, id, 0, 1000, "u" + std::to_string(id), EncodeSockAddr("10.0.0.1"),
                      "src" + std::to_string(id));
}
MonBytes UpdateRec(uint32_t id, std::string_view service, uint32_t in, uint32_t out) {
    return EncodeUpdate(1, id, service, {}, "", EncodeSockAddr("93.184.216.34"), "dest", in, out);
}
MonBytes ResultRec(uint32_t id, uint32_t code) {
    return EncodeResult(1, id, code, "result");
}
MonBytes CloseRec(uint32_t id) {
    return EncodeClose(1, id);
}

struct GraphSink : TrafficSink {
    void AppendData(const std::map<std::string, uint64_t>& values) override { m_Values = values; }
    std::map<std::string, uint64_t> m_Values;
};

struct GridSink : RowCountSink {
    void SetRowCount(int rows) override { m_Rows = rows; }
    int m_Rows = -1;
};

class PMCTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTraceSink([this](const std::string& line) { m_Trace.push_back(line); });
        m_Table.SetServices({"ftp", "www", "Others"});
        m_Table.CreateConnection(m_Monitor.Host());
        ASSERT_TRUE(m_Table.IsConnected());
        m_Trace.clear();
    }
    void TearDown() override { SetTraceSink(nullptr); }

    void PollBatch(const std::vector<MonBytes>& records) {
        m_Monitor.QueueBatch(records);
        EXPECT_EQ(m_Table.Poll(), 0);
    }

    size_t Traced(const std::string& message) const {
        const std::string line = message + " in PMCTable.cpp at line ";
        size_t count = 0;
        for (const auto& traced : m_Trace) count += traced.rfind(line, 0) == 0 ? 1 : 0;
        return count;
    }

    // User names of the displayed rows, in order.
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (size_t row = 1; row <= m_Table.DisplayCount(); ++row)
            rows.push_back(m_Table.GetCellText(static_cast<int>(row), ColUserName));
        return rows;
    }

    using Names = std::vector<std::string>;

    FakeMonitor m_Monitor;
    PMCTable m_Table;
    std::vector<std::string> m_Trace;
};

TEST(PMCTableConnectionTest, ConnectAndCloseTrace) {
    std::vector<std::string> trace;
    SetTraceSink([&trace](const std::string& line) { trace.push_back(line); });
    std::vector<bool> cursor;
    SetWaitCursorHandler([&cursor](bool waiting) { cursor.push_back(waiting); });

    auto last = [&trace](const std::string& message) {
        return !trace.empty() && trace.back().rfind(message + " in PMCTable.cpp at line ", 0) == 0;
    };
    PMCTable table;
    table.CreateConnection("");
    EXPECT_TRUE(last("No Name"));
    EXPECT_TRUE(cursor.empty());

    std::string refusing;
    {
        FakeMonitor gone;  // an address of our own on which nothing listens any more
        refusing = gone.Host();
    }
    table.CreateConnection(refusing);
    EXPECT_FALSE(table.IsConnected());
    EXPECT_TRUE(last("Connection Failed."));
    EXPECT_EQ(table.CloseConnection(), 0);  // frees the failed block

    FakeMonitor monitor;
    cursor.clear();
    table.CreateConnection(monitor.Host());
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
    EXPECT_TRUE(table.IsConnected());
    EXPECT_EQ(table.ServerName(), monitor.Host());
    EXPECT_TRUE(last("Connection established."));

    EXPECT_EQ(table.CloseConnection(), 0);
    EXPECT_TRUE(last("Connection Closed."));
    EXPECT_FALSE(table.IsConnected());
    EXPECT_EQ(table.CloseConnection(), -2);
    EXPECT_TRUE(
        last("Connection was already Closed. You called CloseConnection twice !\nor the "
             "CreateConnection(..) was never successful."));

    // Not connected, a poll reads nothing and sends nothing.
    EXPECT_EQ(table.Poll(), 0);
    EXPECT_EQ(monitor.RequestCount(), 0u);
    SetTraceSink(nullptr);
    SetWaitCursorHandler(nullptr);
}

TEST_F(PMCTableTest, ActiveAndClosedHoldAtMost51) {
    std::vector<MonBytes> batch;
    for (uint32_t id = 1; id <= 52; ++id) batch.push_back(OpenRec(id));
    batch.push_back(UpdateRec(52, "ftp", 10, 10));  // its connection was refused
    PollBatch(batch);
    EXPECT_EQ(m_Table.ActiveCount(), 51u);
    // Counted, and traced once per poll.
    EXPECT_EQ(Traced("Buffer full (2 records)"), 1u);
    EXPECT_EQ(Traced("Buffer full"), 0u);
    EXPECT_EQ(Traced("Bad data from server (1 record)"), 0u);
    ASSERT_EQ(m_Table.DisplayCount(), 51u);
    EXPECT_EQ(m_Table.GetCellText(1, ColUserName), "u1");
    EXPECT_EQ(m_Table.GetCellText(51, ColUserName), "u51");
    EXPECT_EQ(m_Table.GetCellText(52, ColUserName), "");
    EXPECT_EQ(m_Table.GetCellText(0, ColUserName), "");
    EXPECT_EQ(m_Table.ServiceTraffic("ftp"), 0u);

    GridSink grid;
    m_Table.UpdateRowCount(grid);
    EXPECT_EQ(grid.m_Rows, 51);
}

TEST_F(PMCTableTest, ClosedConnectionIsShownOnceThenGoneAndRowsKeepTheirPlaces) {
    PollBatch({OpenRec(1), OpenRec(2), OpenRec(3)});
    EXPECT_EQ(Rows(), (Names{"u1", "u2", "u3"}));

    PollBatch({UpdateRec(1, "ftp", 5, 5), ResultRec(2, 0), CloseRec(2), OpenRec(4)});
    EXPECT_EQ(Rows(), (Names{"u1", "u3", "u4", "u2"}));  // the closed one once more, last
    EXPECT_EQ(m_Table.ActiveCount(), 3u);
    EXPECT_EQ(m_Table.ClosedCount(), 0u);  // already on its way out

    PollBatch({});
    EXPECT_EQ(Rows(), (Names{"u1", "u3", "u4"}));
    EXPECT_EQ(m_Table.ServiceTraffic("ftp"), 0u);  // the empty batch counted nothing

    PollBatch({UpdateRec(2, "ftp", 1, 1), CloseRec(9)});  // not active any more, never known
    EXPECT_EQ(Traced("Bad data from server (2 records)"), 1u);
    EXPECT_EQ(Rows(), (Names{"u1", "u3", "u4"}));
}

TEST_F(PMCTableTest, FailedViewLetsClosedConnectionsPileUpAgainstTheLimit) {
    m_Table.SetShowActive(false);
    std::vector<MonBytes> batch;
    for (uint32_t id = 1; id <= 51; ++id) batch.push_back(OpenRec(id));
    for (uint32_t id = 1; id <= 10; ++id) batch.push_back(CloseRec(id));
    batch.push_back(OpenRec(100));  // 41 active + 10 closed: refused
    batch.push_back(ResultRec(20, 7));
    batch.push_back(CloseRec(20));
    PollBatch(batch);
    EXPECT_EQ(m_Table.ActiveCount(), 40u);
    EXPECT_EQ(m_Table.ClosedCount(), 10u);
    EXPECT_EQ(m_Table.FailedCount(), 1u);
    EXPECT_EQ(Traced("Buffer full (1 record)"), 1u);
    EXPECT_EQ(Rows(), Names{"u20"});

    PollBatch({CloseRec(11)});
    EXPECT_EQ(m_Table.ClosedCount(), 11u);

    m_Table.SetShowActive(true);
    PollBatch({});
    EXPECT_EQ(m_Table.DisplayCount(), 39u + 11u);
    EXPECT_EQ(m_Table.GetCellText(39, ColUserName), "u51");
    EXPECT_EQ(m_Table.GetCellText(40, ColUserName), "u1");  // the closed ones after the active
    EXPECT_EQ(m_Table.GetCellText(50, ColUserName), "u11");
    PollBatch({OpenRec(100)});  // room again
    EXPECT_EQ(m_Table.DisplayCount(), 40u);
    EXPECT_EQ(m_Table.GetCellText(40, ColUserName), "u100");
}

TEST_F(PMCTableTest, FailedConnectionsAreKeptUpTo50) {
    std::vector<MonBytes> batch;
    for (uint32_t id = 1; id <= 51; ++id) {
        batch.push_back(OpenRec(id));
        batch.push_back(ResultRec(id, 91));
        batch.push_back(CloseRec(id));
    }
    PollBatch(batch);
    EXPECT_EQ(m_Table.ActiveCount(), 0u);
    EXPECT_EQ(m_Table.FailedCount(), 50u);
    EXPECT_EQ(m_Table.DisplayCount(), 0u);  // never in the active view

    m_Table.SetShowActive(false);
    PollBatch({});
    ASSERT_EQ(m_Table.DisplayCount(), 50u);
    EXPECT_EQ(m_Table.GetCellText(1, ColUserName), "u1");
    EXPECT_EQ(m_Table.GetCellText(50, ColUserName), "u50");
    PollBatch({});
    EXPECT_EQ(m_Table.DisplayCount(), 50u);  // failed ones stay
}

TEST_F(PMCTableTest, TrafficGoesToItsServiceOrToOthers) {
    PollBatch({OpenRec(1), OpenRec(2), UpdateRec(1, "ftp", 100, 20), UpdateRec(2, "smtp", 30, 0),
               UpdateRec(1, "ftp", 150, 20)});
    EXPECT_EQ(m_Table.ServiceTraffic("ftp"), 170u);
    EXPECT_EQ(m_Table.ServiceTraffic("Others"), 30u);
    GraphSink graph;
    m_Table.FeedGraph(graph);
    EXPECT_EQ(graph.m_Values,
              (std::map<std::string, uint64_t>{{"Others", 30}, {"ftp", 170}, {"www", 0}}));

    PollBatch({});  // a new interval starts at 0, with the same services
    m_Table.FeedGraph(graph);
    EXPECT_EQ(graph.m_Values,
              (std::map<std::string, uint64_t>{{"Others", 0}, {"ftp", 0}, {"www", 0}}));

    m_Table.SetServices({"www", "www"});
    PollBatch({UpdateRec(2, "smtp", 60, 0), UpdateRec(1, "ftp", 160, 20)});
    EXPECT_EQ(Traced("Failed to find \"Others\" subset (2 records)"), 1u);
    m_Table.FeedGraph(graph);
    EXPECT_EQ(graph.m_Values, (std::map<std::string, uint64_t>{{"www", 0}}));
    EXPECT_EQ(m_Table.GetCellText(1, ColInTraffic), "160");  // the entry itself took the update
}

TEST_F(PMCTableTest, TrafficOfSeveralGigabytesInOneIntervalIsCountedWhole) {
    // Two connections of 3 GB in and 1.5 GB out each: 9 GB of "www" in one point.
    PollBatch({OpenRec(1), OpenRec(2), UpdateRec(1, "www", 3000000000u, 1500000000u),
               UpdateRec(2, "www", 3000000000u, 1500000000u)});
    EXPECT_EQ(m_Table.ServiceTraffic("www"), 9000000000u);
    GraphSink graph;
    m_Table.FeedGraph(graph);
    EXPECT_EQ(graph.m_Values.at("www"), 9000000000u);
    EXPECT_EQ(m_Table.GetCellText(1, ColTotalTraffic), "4500000000");

    PollBatch({UpdateRec(1, "www", 1000000000u, 1500000000u)});  // In started again
    EXPECT_EQ(m_Table.ServiceTraffic("www"), 1000000000u);
}

TEST_F(PMCTableTest, RatesAreTheGrowthBetweenTwoPollsOverTheTimeBetweenThem) {
    int64_t now = 10000;
    m_Table.SetClock([&now] { return now; });
    auto rates = [this](int row) {
        const EntryObj* entry = m_Table.DisplayEntry(row);
        std::string in, out;
        EntryObj::FormatRate(entry->m_RateIn, 0, in);
        EntryObj::FormatRate(entry->m_RateOut, 0, out);
        return in + " / " + out;
    };
    PollBatch({OpenRec(1), UpdateRec(1, "www", 1000, 500)});
    EXPECT_EQ(rates(1), " / ");  // counted before we watched: nothing to measure yet

    now = 12000;
    PollBatch({UpdateRec(1, "www", 6000, 500), OpenRec(2), UpdateRec(2, "www", 4000, 100)});
    EXPECT_EQ(rates(1), "2500 B/s / 0 B/s");
    EXPECT_EQ(rates(2), "2000 B/s / 50 B/s");  // new since the last poll: all of it in 2 s
    m_Table.SetDisplayOptions(1, 1);            // the columns, in the data unit per second
    EXPECT_EQ(m_Table.GetCellText(1, ColInRate), "2.4 KB/s");
    EXPECT_EQ(m_Table.GetCellText(2, ColOutRate), "0.0 KB/s");
    m_Table.SetDisplayOptions(1, 0);

    now = 12500;                                // half a second later: too short to measure
    PollBatch({UpdateRec(2, "www", 5000, 100)});
    EXPECT_EQ(rates(2), "2000 B/s / 50 B/s");

    now = 13000;
    PollBatch({CloseRec(1)});                  // the closed one is listed last
    EXPECT_EQ(rates(1), "1000 B/s / 0 B/s");   // the growth of the short span counts here
    EXPECT_EQ(rates(2), " / ");                // finished: no rate
    now = 15000;
    PollBatch({});
    EXPECT_EQ(rates(1), "0 B/s / 0 B/s");      // sent no record: moved nothing

    std::string text;
    EntryObj::FormatRate(12800, 1, text);
    EXPECT_EQ(text, "12.5 KB/s");
    EntryObj::FormatRate(3 * 1048576.0, 2, text);
    EXPECT_EQ(text, "3.0 MB/s");
}

TEST_F(PMCTableTest, RefusedOpenRecordEndsThePollAndTheNextReadsOnInTheBatch) {
    PollBatch({EncodeOpen(0, 0, 0, 1000, "nobody", {}, ""), OpenRec(5)});
    EXPECT_EQ(m_Table.ActiveCount(), 0u);
    EXPECT_EQ(m_Monitor.RequestCount(), 1u);

    EXPECT_EQ(m_Table.Poll(), 0);
    EXPECT_EQ(m_Monitor.RequestCount(), 1u);  // no new request while the batch is open
    EXPECT_EQ(Rows(), Names{"u5"});

    PollBatch({});
    EXPECT_EQ(m_Monitor.RequestCount(), 2u);
}

TEST_F(PMCTableTest, LostConnectionMidBatchClosesButKeepsTheEntries) {
    m_Monitor.QueueReply({FakeStep::Send(FrameMessage(OpenRec(1))),
                          FakeStep::Send(FrameMessage(OpenRec(2))), FakeStep::Close()});
    EXPECT_LT(m_Table.Poll(), 0);
    EXPECT_FALSE(m_Table.IsConnected());
    EXPECT_EQ(Traced("Connection Closed."), 1u);
    EXPECT_EQ(Rows(), (Names{"u1", "u2"}));
    EXPECT_EQ(m_Table.CloseConnection(), -2);
    EXPECT_EQ(m_Table.Poll(), 0);  // nothing to read from any more
    EXPECT_EQ(Rows(), (Names{"u1", "u2"}));
}

TEST_F(PMCTableTest, ABatchThatEndsInAnIllegalRecordIsRefusedWhole) {
    PollBatch({OpenRec(1), UpdateRec(1, "www", 10, 10)});
    m_Monitor.QueueReply({FakeStep::Send(FrameMessage(UpdateRec(1, "www", 99, 99))),
                          FakeStep::Send(FrameMessage(OpenRec(2))),
                          FakeStep::Send(FrameMessage(MonBytes{0x01}))});
    EXPECT_LT(m_Table.Poll(), 0);
    EXPECT_FALSE(m_Table.IsConnected());
    EXPECT_EQ(m_Table.LastErrorText(), "illegal message from monitor");
    EXPECT_EQ(Rows(), Names{"u1"});
    EXPECT_EQ(m_Table.GetCellText(1, ColInTraffic), "10");
    EXPECT_EQ(m_Table.ServiceTraffic("www"), 0u);
}

// A batch applied in slices: each slice whose time is up ends after a few
// records, and the rows change only with the last one.
TEST_F(PMCTableTest, SlicedApplyShowsTheBatchOnlyWhenItIsDoneAndGivesBigStorageBack) {
    m_Table.SetConnectionLimit(100000);
    std::vector<MonBytes> records;
    for (uint32_t id = 1; id <= 20000; ++id) records.push_back(OpenRec(id));  // over 1 MiB
    m_Monitor.QueueBatch(records);
    MonBatch batch;
    MonitorConnection* connection = m_Table.LendConnection(batch);
    ASSERT_EQ(Mon_ReadBatch(connection, batch, GetSessionLimits()), 0);
    ASSERT_GT(batch.Bytes(), MonBatch::KeptBytes);
    ASSERT_TRUE(m_Table.TakeBatch(connection, batch));
    size_t slices = 0;
    int32_t result = PMCTable::ApplyMore;
    while ((result = m_Table.ApplySlice(std::chrono::steady_clock::now())) == PMCTable::ApplyMore) {
        ++slices;
        EXPECT_TRUE(m_Table.IsApplying());
        EXPECT_EQ(m_Table.DisplayCount(), 0u);
    }
    EXPECT_EQ(result, 0);
    EXPECT_GE(slices, 20000u / 64 - 1);
    EXPECT_EQ(m_Table.DisplayCount(), 20000u);

    MonBatch lent;
    connection = m_Table.LendConnection(lent);
    EXPECT_LE(lent.Capacity(), MonBatch::KeptBytes);
    EXPECT_EQ(m_Table.ApplyBatch(connection, lent), 0);
}

TEST_F(PMCTableTest, ReusedIdPairDoesNotLeakOrDuplicateRows) {
    PollBatch({OpenRec(7), CloseRec(7), OpenRec(7), UpdateRec(7, "www", 4, 4), CloseRec(7),
               OpenRec(8), ResultRec(8, 1), CloseRec(8), OpenRec(8), ResultRec(8, 1), CloseRec(8)});
    EXPECT_EQ(m_Table.FailedCount(), 1u);
    EXPECT_EQ(Rows(), Names{"u7"});
    EXPECT_EQ(m_Table.ServiceTraffic("www"), 8u);
    PollBatch({OpenRec(23, 1), OpenRec(3, 12)});  // different pairs that once shared a key
    EXPECT_EQ(m_Table.ActiveCount(), 2u);
}

TEST_F(PMCTableTest, DisplayOptionsReformatEveryKeptEntry) {
    PollBatch({OpenRec(1), UpdateRec(1, "www", 1536, 0), OpenRec(2), ResultRec(2, 3), CloseRec(2),
               OpenRec(4), UpdateRec(4, "www", 2048, 0), CloseRec(4)});
    EXPECT_EQ(m_Table.GetCellText(1, ColSource), "src1");
    EXPECT_EQ(m_Table.GetCellText(1, ColInTraffic), "1536");
    EXPECT_EQ(m_Table.GetCellText(2, ColUserName), "u4");  // closed: shown this once
    m_Table.SetDisplayOptions(0, 1);
    EXPECT_EQ(m_Table.HostForm(), 0);
    EXPECT_EQ(m_Table.DataUnit(), 1);
    EXPECT_EQ(m_Table.GetCellText(1, ColSource), "10.0.0.1");
    EXPECT_EQ(m_Table.GetCellText(1, ColDestination), "93.184.216.34");
    EXPECT_EQ(m_Table.GetCellText(1, ColInTraffic), "1.50K");
    EXPECT_EQ(m_Table.GetCellText(2, ColSource), "10.0.0.1");
    EXPECT_EQ(m_Table.GetCellText(2, ColInTraffic), "2.00K");

    m_Table.SetShowActive(false);
    PollBatch({OpenRec(3)});
    EXPECT_EQ(m_Table.GetCellText(1, ColSource), "10.0.0.1");  // the failed one too
    EXPECT_EQ(m_Table.GetCellText(1, ColTotalTraffic), "0.00K");
}

TEST_F(PMCTableTest, ExhaustedMemoryClosesTheConnectionAndDropsEveryEntry) {
    PollBatch({OpenRec(1), OpenRec(2)});
    m_Monitor.QueueBatch({OpenRec(3)});
    FailNextAllocation(true);  // the new entry of connection 3
    EXPECT_LT(m_Table.Poll(), 0);
    FailNextAllocation(false);
    EXPECT_FALSE(m_Table.IsConnected());
    EXPECT_EQ(m_Table.ActiveCount(), 0u);
    EXPECT_EQ(m_Table.DisplayCount(), 0u);
    EXPECT_EQ(m_Table.GetCellText(1, ColUserName), "");
    EXPECT_TRUE(m_Monitor.WaitForDisconnects(1));
}

}  // namespace
