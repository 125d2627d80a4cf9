// One filter line, two back ends: the live grid's filter over the connections
// in memory and the History query over the same connections once recorded
// must keep the same ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "core/history/HistoryQuery.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryWriter.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/TempFolder.h"

namespace {

// The users a line keeps, sorted, or the error of a malformed line.
std::string Users(std::vector<std::string> users, const std::string& error) {
    if (!error.empty()) return "error: " + error;
    std::sort(users.begin(), users.end());
    std::string text;
    for (const std::string& user : users) text += (text.empty() ? "" : ",") + user;
    return text;
}

class FilterBothGridsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Table.SetServices({"www", "ftp", "dns", "Others"});
        m_Table.SetObserver(&m_Recorder);
        m_Table.CreateConnection(m_Monitor.Host());
        ASSERT_TRUE(m_Table.IsConnected());
        m_Recorder.Connected("proxy.example", 1000);
        Poll({EncodeOpen(1, 1, 0x02, 1700000000, "alice", EncodeSockAddr("10.1.2.3"), "client-a"),
              EncodeUpdate(1, 1, "www", {}, "", EncodeSockAddr("10.9.0.1"), "intranet.example.org",
                           10, 1),
              EncodeOpen(1, 2, 0x00, 1700000001, "bob", EncodeSockAddr("192.168.1.7"), ""),
              EncodeUpdate(1, 2, "ftp", {}, "", EncodeSockAddr("93.184.216.34"),
                           "downloads.example.com", 10, 1),
              EncodeOpen(1, 3, 0x02, 1700000002, "carol smith", EncodeSockAddr("10.1.9.9"), ""),
              EncodeUpdate(1, 3, "dns", {}, "", EncodeSockAddr("8.8.8.8"), "", 10, 1),
              EncodeResult(1, 3, 5, "connection refused")},
             1060);
    }

    void Poll(const std::vector<MonBytes>& records, int64_t now) {
        m_Monitor.QueueBatch(records);
        ASSERT_EQ(m_Table.Poll(), 0);
        m_Batches.push_back(m_Recorder.PeriodDone(m_Table, now));
    }

    // The live side reads the connections while they are on show; then they
    // close and are recorded for the History side.
    void LiveThenHistory(const std::vector<std::string>& lines) {
        std::vector<const EntryObj*> entries;
        for (int row = 1; const EntryObj* entry = m_Table.DisplayEntry(row); ++row)
            entries.push_back(entry);
        FilterIndex index;
        index.Build(entries);
        index.SetServer("proxy.example");
        for (const std::string& line : lines) m_Live.push_back(Live(index, line));
        Poll({EncodeClose(1, 1, 1700000100), EncodeClose(1, 2, 1700000100),
              EncodeClose(1, 3, 1700000100)},
             1120);
        HistoryWriterOptions keep;
        keep.m_MaxAgeSeconds = 0;
        {
            HistoryWriter writer(m_Folder.File("history.sqlite3"), keep, nullptr);
            for (HistoryBatch& batch : m_Batches) writer.Submit(std::move(batch));
        }
        m_Query.Open(m_Folder.File("history.sqlite3"));
    }

    static std::string Live(const FilterIndex& index, const std::string& line) {
        ConnectionFilter filter;
        filter.SetText(line);
        std::vector<std::string> users;
        for (size_t row : filter.Select(index)) users.push_back(index.Entry(row)->m_UserName);
        return Users(users, filter.Error());
    }

    std::string History(const std::string& line) {
        HistoryRange range;
        range.m_To = INT64_MAX;
        range.m_Filter = HistoryFilter::Parse(line);
        std::vector<std::string> users;
        for (const HistoryConnection& c : m_Query.Page(range, HistoryQuery::ColEnd, true, 0, 100))
            users.push_back(c.m_User);
        if (!range.m_Filter.m_Error.empty()) {
            EXPECT_EQ(users.size(), 3u) << line;  // a malformed line keeps all
        }
        return Users(users, range.m_Filter.m_Error);
    }

    FakeMonitor m_Monitor;
    PMCTable m_Table;
    HistoryRecorder m_Recorder;
    TempFolder m_Folder;
    std::vector<HistoryBatch> m_Batches;
    std::vector<std::string> m_Live;
    HistoryQuery m_Query;
};

TEST_F(FilterBothGridsTest, EveryLineKeepsTheSameConnectionsLiveAndInHistory) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "alice,bob,carol smith"},
        {"EXAMPLE", "alice,bob"},
        {"dest:10.0.0.0/8", "alice"},
        {"-destination:10.0.0.0/8", "bob,carol smith"},
        {"src:192.168.0.0/16", "bob"},
        {"source:CLIENT", "alice"},
        {"dest:=8.8.8.8", "carol smith"},
        {"dest:=93.184.216.34", ""},  // a destination with a name is known by it
        {"src:=10.1.2.3", "alice"},
        {"server:PROXY", "alice,bob,carol smith"},
        {"server:=proxy.example -service:dns", "alice,bob"},
        {"-server:proxy", ""},
        {"user:=ali", ""},
        {ConnectionFilter::ExactTerm("user", "carol smith"), "carol smith"},
        {"\"carol smith\"", "carol smith"},
        {"\"-user:bob\"", ""},  // quoted: a phrase, not an exclusion
        {"-user:bob", "alice,carol smith"},
        {"result:5", "carol smith"},
        {"refused", "carol smith"},
        {"auth:password", "alice,carol smith"},
        {"usr:bob",
         "error: Unknown field \"usr:\": use user:, dest:, src:, service:, auth:, "
         "result:, server:, sport: or dport:"},
    };
    std::vector<std::string> lines;
    for (const auto& [line, kept] : cases) lines.push_back(line);
    LiveThenHistory(lines);
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(m_Live[i], cases[i].second) << "live: " << cases[i].first;
        EXPECT_EQ(History(cases[i].first), cases[i].second) << "history: " << cases[i].first;
    }
    // The history keeps no ports: History says so rather than keep nothing.
    EXPECT_EQ(History("bob dport:443"), "error: History cannot filter by port");
}

}  // namespace
