// The history file written by the writer thread and read back by a query
// connection, in a temporary folder: what a session records, retention,
// older and damaged files, and the faults that stop writing.

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/history/HistoryQuery.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryStore.h"
#include "core/history/HistoryWriter.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/TempFolder.h"

namespace {

HistoryRange Everything(const std::string& filter = "") {
    HistoryRange range;
    range.m_From = 0;
    range.m_To = INT64_MAX;
    range.m_Filter = HistoryFilter::Parse(filter);
    return range;
}

HistoryConnection Finished(const std::string& user, int64_t end, uint64_t bytes = 1000) {
    HistoryConnection c;
    c.m_Server = "proxy";
    c.m_Key = "1:" + std::to_string(end);
    c.m_User = user;
    c.m_DestName = "dest-" + user + ".example";
    c.m_Service = "www";
    c.m_StartTime = end - 10;
    c.m_EndTime = end;
    c.m_BytesIn = bytes;
    c.m_BytesOut = bytes / 2;
    return c;
}

HistoryBatch OneConnectionAndPeriod(const std::string& user, int64_t end) {
    HistoryBatch batch;
    batch.m_Connections.push_back(Finished(user, end));
    HistoryPeriod period;
    period.m_Server = "proxy";
    period.m_Time = end;
    period.m_Seconds = 60;
    period.m_Services["www"] = {100, 50};
    period.m_Users[user] = {100, 50};
    batch.m_Periods.push_back(period);
    return batch;
}

// The rows of these tests are years old: no limit by age.
HistoryWriterOptions Keep() {
    HistoryWriterOptions options;
    options.m_MaxAgeSeconds = 0;
    return options;
}

int64_t CountIn(const std::string& path, const std::string& filter = "") {
    HistoryQuery query;
    query.Open(path);
    return query.Count(Everything(filter));
}

struct Notices {
    void operator()(const std::string& text) {
        std::lock_guard lock(m_Mutex);
        m_Texts.push_back(text);
    }
    std::vector<std::string> Texts() {
        std::lock_guard lock(m_Mutex);
        return m_Texts;
    }
    std::mutex m_Mutex;
    std::vector<std::string> m_Texts;
};

}  // namespace

// Polls with opens, updates, a failure and a close; bytes past 4 GiB, a UTF-8
// and a Latin-1 user name; the first batch's traffic predates the session.
TEST(HistorySessionTest, PollsAreRecordedAndReadBackExactly) {
    TempFolder folder;
    const std::string path = folder.File("vgl/history.sqlite3");
    const std::string utf8User = "zo\xc3\xab";
    const std::string latin1User = "j\xfcrgen";
    FakeMonitor monitor;
    PMCTable table;
    table.SetServices({"www", "Others"});
    HistoryRecorder recorder;
    table.SetObserver(&recorder);
    {
        HistoryWriter writer(path, Keep(), nullptr);
        table.CreateConnection(monitor.Host());
        ASSERT_TRUE(table.IsConnected());
        recorder.Connected("proxy.example", 1000);
        auto poll = [&](const std::vector<MonBytes>& records, int64_t now) {
            monitor.QueueBatch(records);
            ASSERT_EQ(table.Poll(), 0);
            writer.Submit(recorder.PeriodDone(table, now));
        };
        poll(
            {EncodeOpen(1, 1, 0x02, 1700000000, utf8User, EncodeSockAddr("10.0.0.1", 4000),
                        "client1"),
             EncodeUpdate(1, 1, "www", {}, "", EncodeSockAddr("192.0.2.7", 80), "dest.example", 500,
                          100),
             EncodeOpen(1, 2, 0x00, 1700000001, latin1User, EncodeSockAddr("10.0.0.2"), "client2")},
            1060);
        poll({EncodeUpdate(1, 1, "www", {}, "", {}, "", 4000000000u, 100),
              EncodeUpdate(1, 2, "ftp", {}, "", EncodeSockAddr("192.0.2.9"), "", 10, 0),
              EncodeResult(1, 2, 5, "connection refused"), EncodeClose(1, 2, 1700000100)},
             1120);
        // The wire's 32-bit total passes 4 GiB: 4e9 then 1e9 is 2^32 + 1e9 in all.
        poll({EncodeUpdate(1, 1, "www", {}, "", {}, "", 1000000000u, 300),
              EncodeClose(1, 1, 1700000200)},
             1180);
        writer.Submit(recorder.Disconnected("monitor closed", 1200));
    }  // the writer writes what is pending before it ends

    HistoryQuery query;
    query.Open(path);
    EXPECT_EQ(query.Servers(), std::vector<std::string>{"proxy.example"});
    const std::vector<HistoryConnection> rows =
        query.Page(Everything(), HistoryQuery::ColEnd, true, 0, 10);
    ASSERT_EQ(rows.size(), 2u);
    const HistoryConnection& failed = rows[0];
    EXPECT_EQ(failed.m_User, latin1User);
    EXPECT_EQ(failed.m_Status, 1);
    EXPECT_EQ(failed.m_ResultCode, 5);
    EXPECT_EQ(failed.m_ResultText, "connection refused");
    EXPECT_EQ(failed.m_Service, "ftp");
    EXPECT_EQ(failed.m_DestAddr, "192.0.2.9");
    EXPECT_EQ(failed.m_EndTime, 1700000100);
    const HistoryConnection& closed = rows[1];
    EXPECT_EQ(closed.m_Server, "proxy.example");
    EXPECT_EQ(closed.m_Key, "1:1");
    EXPECT_EQ(closed.m_User, utf8User);
    EXPECT_EQ(closed.m_SourceAddr, "10.0.0.1");
    EXPECT_EQ(closed.m_SourceName, "client1");
    EXPECT_EQ(closed.m_DestName, "dest.example");
    EXPECT_EQ(closed.m_AuthMethod, 2);
    EXPECT_EQ(closed.m_Status, 2);
    EXPECT_EQ(closed.m_StartTime, 1700000000);
    EXPECT_EQ(closed.m_EndTime, 1700000200);
    EXPECT_EQ(closed.m_BytesIn, 5294967296u);
    EXPECT_EQ(closed.m_BytesOut, 300u);

    // Traffic of the periods after the first: 4e9 - 500, then 2^32 - 3e9 + 200 more.
    const HistorySeries services = query.Traffic(Everything(), false);
    ASSERT_EQ(services.m_Names, (std::vector<std::string>{"ftp", "www"}));
    uint64_t www = 0;
    for (uint64_t value : services.m_Values[1]) www += value;
    EXPECT_EQ(www, 5294967296u - 500u + 200u);
    const std::vector<HistoryTotal> users = query.Totals(Everything(), HistoryQuery::ByUser);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].m_Name, utf8User);
    EXPECT_EQ(users[0].m_In, 5294967296u);

    EXPECT_EQ(query.Count(Everything("user:ZO")), 1);
    EXPECT_EQ(query.Count(Everything("dest:192.0.2.9")), 1);
    EXPECT_EQ(query.Count(Everything("service:www")), 1);
    EXPECT_EQ(query.Count(Everything("refused")), 1);
    EXPECT_EQ(query.Count(Everything("client")), 2);
    EXPECT_EQ(query.Count(Everything("user:zo service:ftp")), 0);
    EXPECT_EQ(query.Count(Everything("-user:zo")), 1);
    EXPECT_EQ(query.Count(Everything("user:=zo")), 0);
    EXPECT_EQ(query.Count(Everything("user:=" + utf8User)), 1);
    EXPECT_EQ(query.Count(Everything("auth:password")), 1);
    EXPECT_EQ(query.Count(Everything("result:\"connection refused\"")), 1);
    EXPECT_EQ(query.Count(Everything("user:\"open")), 2);  // a malformed line keeps all
    HistoryRange early = Everything();
    early.m_To = 1700000150;
    EXPECT_EQ(query.Count(early), 1);
    early.m_Servers = {"another"};
    EXPECT_EQ(query.Count(early), 0);
}

TEST(HistoryStoreTest, RetentionByAgeAndSizeClearAndOff) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    int64_t now = 100 * 86400;
    HistoryWriterOptions options;
    options.m_Clock = [&now] { return now; };
    options.m_MaxAgeSeconds = 30 * 86400;
    options.m_MaxBytes = 0;
    HistoryWriter writer(path, options, nullptr);
    // Old enough to go in one step and in several.
    for (int day = 0; day < 60; ++day) {
        HistoryBatch batch;
        for (int i = 0; i < 100; ++i)
            batch.m_Connections.push_back(
                Finished("u" + std::to_string(i), (40 + day) * 86400 + i));
        writer.Submit(std::move(batch));
    }
    writer.Flush();
    EXPECT_EQ(CountIn(path), 30 * 100);  // day 70 onwards

    // By size: the oldest go until the rows fit again.
    for (int i = 0; i < 20; ++i) {
        HistoryBatch batch;
        for (int j = 0; j < 500; ++j) {
            HistoryConnection c = Finished("bulk" + std::to_string(j), 99 * 86400 + i * 500 + j);
            c.m_DestName = std::string(200, 'd') + std::to_string(j);
            batch.m_Connections.push_back(std::move(c));
        }
        writer.Submit(std::move(batch));
    }
    writer.SetRetention(30 * 86400, 1 << 20);
    writer.Flush();
    HistoryQuery query;
    query.Open(path);
    const int64_t kept = query.Count(Everything());
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 30 * 100 + 20 * 500);
    EXPECT_EQ(query.Count(Everything("bulk")), kept);  // the oldest went first
    EXPECT_LE(std::filesystem::file_size(path), uint64_t{2} << 20);

    writer.Clear();
    writer.Flush();
    EXPECT_EQ(query.Count(Everything()), 0);
    writer.SetEnabled(false);
    writer.Submit(OneConnectionAndPeriod("off", now));
    writer.Flush();
    EXPECT_EQ(query.Count(Everything()), 0);
}

// Batches full of names never seen again (closed connections' users and
// destinations) between two uses of one name, and a name in every batch: each
// is written as the same name throughout.
TEST(HistoryStoreTest, NamesAmongManyNewOnesStayTheSame) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    {
        HistoryWriter writer(path, Keep(), nullptr);
        for (int poll = 0; poll < 4; ++poll) {
            HistoryBatch batch;
            if (poll % 3 == 0) batch.m_Connections.push_back(Finished("back", 1000 + poll));
            for (int i = 0; i < 10000; ++i) {
                batch.m_Connections.push_back(
                    Finished("once" + std::to_string(poll * 10000 + i), 2000 + poll));
            }
            writer.Submit(std::move(batch));
        }
    }
    EXPECT_EQ(CountIn(path), 40002);
    EXPECT_EQ(CountIn(path, "service:www"), 40002);
    EXPECT_EQ(CountIn(path, "user:=back"), 2);
    EXPECT_EQ(CountIn(path, "dest:=dest-back.example"), 2);
}

// A file of the first version, as that version wrote it.
TEST(HistoryStoreTest, MigratesAVersion1File) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* version1 = R"sql(
        CREATE TABLE connections(id INTEGER PRIMARY KEY, server TEXT, conn_key TEXT, user TEXT,
            src_addr TEXT, src_name TEXT, dst_addr TEXT, dst_name TEXT, service TEXT,
            next_server TEXT, auth INT, status INT, start_time INT, end_time INT, bytes_in INT,
            bytes_out INT, result_code INT, result_text TEXT);
        CREATE INDEX connections_end ON connections(end_time);
        CREATE TABLE periods(id INTEGER PRIMARY KEY, server TEXT, time INT, seconds INT,
            active INT, opened INT, closed INT, failed INT);
        CREATE INDEX periods_time ON periods(time);
        CREATE TABLE period_traffic(period INT, kind INT, name TEXT, bytes_in INT, bytes_out INT);
        CREATE TABLE events(id INTEGER PRIMARY KEY, server TEXT, time INT, kind INT, text TEXT);
        CREATE INDEX events_time ON events(time);
        INSERT INTO connections VALUES(1, 'old.proxy', '3:4', 'ann', '10.0.0.3', 'pc3', '192.0.2.3',
            'web.example', 'www', '', 2, 2, 500, 600, 6000000000, 20, 0, '');
        INSERT INTO periods VALUES(1, 'old.proxy', 600, 60, 1, 1, 1, 0);
        INSERT INTO period_traffic VALUES(1, 0, 'www', 700, 80);
        INSERT INTO events VALUES(1, 'old.proxy', 540, 0, '');
        PRAGMA user_version = 1;
    )sql";
    ASSERT_EQ(sqlite3_exec(db, version1, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    Notices notices;
    {
        HistoryWriter writer(path, Keep(), std::ref(notices));
        writer.Submit(OneConnectionAndPeriod("bob", 700));
    }
    EXPECT_TRUE(notices.Texts().empty());
    HistoryQuery query;
    query.Open(path);
    const auto rows = query.Page(Everything(), HistoryQuery::ColEnd, true, 0, 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].m_User, "ann");
    EXPECT_EQ(rows[0].m_DestName, "web.example");
    EXPECT_EQ(rows[0].m_BytesIn, 6000000000u);
    EXPECT_EQ(rows[1].m_User, "bob");
    EXPECT_EQ(query.Servers(), (std::vector<std::string>{"old.proxy", "proxy"}));
    EXPECT_EQ(query.Traffic(Everything(), false).m_Names, std::vector<std::string>{"www"});
}

TEST(HistoryStoreTest, DamagedAndNewerFilesAreMovedAsideOnce) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    for (const char* kind : {"damaged", "newer"}) {
        if (std::string(kind) == "damaged") {
            std::ofstream(path) << std::string(8192, 'x');
        } else {
            sqlite3* db = nullptr;
            sqlite3_open(path.c_str(), &db);
            sqlite3_exec(db, "CREATE TABLE t(x); PRAGMA user_version = 99;", nullptr, nullptr,
                         nullptr);
            sqlite3_close(db);
        }
        Notices notices;
        {
            HistoryWriter writer(path, Keep(), std::ref(notices));
            writer.Submit(OneConnectionAndPeriod("carol", 1000));
        }
        ASSERT_EQ(notices.Texts().size(), 1u) << kind;
        EXPECT_NE(notices.Texts()[0].find("moved aside as " + path + "." + kind + "-"),
                  std::string::npos)
            << notices.Texts()[0];
        EXPECT_EQ(CountIn(path), 1) << kind;
        std::filesystem::remove(path);
    }
    int aside = 0;
    for (const std::string& name : folder.Names())
        aside += name.find("history.sqlite3.") == 0 && name.find("-wal") == std::string::npos &&
                 name.find("-shm") == std::string::npos;
    EXPECT_EQ(aside, 2);
}

// Writing stops with one message; submitting goes on without blocking.
TEST(HistoryStoreTest, UnwritableFolderAndFullDiskStopWriting) {
    TempFolder folder;
    std::ofstream(folder.File("file")) << "not a folder";
    Notices notices;
    {
        HistoryWriter writer(folder.File("file/vgl/history.sqlite3"), HistoryWriterOptions{},
                             std::ref(notices));
        writer.Flush();
        EXPECT_FALSE(writer.IsWriting());
        writer.Submit(OneConnectionAndPeriod("dave", 1000));
        writer.Flush();
    }
    ASSERT_EQ(notices.Texts().size(), 1u);
    EXPECT_NE(notices.Texts()[0].find("History is not recorded"), std::string::npos);

    Notices full;
    const std::string path = folder.File("history.sqlite3");
    HistoryWriterOptions options = Keep();
    options.m_PageLimit = 40;
    {
        HistoryWriter writer(path, options, std::ref(full));
        writer.Submit(OneConnectionAndPeriod("erin", 1000));
        HistoryBatch big;
        for (int i = 0; i < 5000; ++i)
            big.m_Connections.push_back(Finished("big" + std::to_string(i), 2000 + i));
        writer.Submit(std::move(big));
        writer.Submit(OneConnectionAndPeriod("frank", 9000));
        writer.Flush();
        EXPECT_FALSE(writer.IsWriting());
    }
    ASSERT_EQ(full.Texts().size(), 1u);
    EXPECT_NE(full.Texts()[0].find("is full"), std::string::npos);
    EXPECT_EQ(CountIn(path), 1);  // what was written before stays whole
}

// While the disk lags, the oldest pending batches become one: nothing waits
// and no connection is lost.
TEST(HistoryWriterTest, MergesTheOldestPendingBatchesWhenBehind) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    std::ofstream(path) << std::string(4096, 'x');  // its notice holds the writer up
    std::mutex mutex;
    std::condition_variable resume;
    bool go = false;
    HistoryWriterOptions options = Keep();
    options.m_QueueLimit = 3;
    HistoryWriter writer(path, options, [&](const std::string&) {
        std::unique_lock lock(mutex);
        resume.wait(lock, [&] { return go; });
    });
    std::vector<bool> accepted;
    for (int i = 0; i < 6; ++i)
        accepted.push_back(
            writer.Submit(OneConnectionAndPeriod("u" + std::to_string(i), 1000 + 60 * i)));
    EXPECT_EQ(accepted, (std::vector<bool>{true, true, true, false, false, false}));
    EXPECT_EQ(writer.MergedCount(), 3u);
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    resume.notify_all();
    writer.Flush();
    HistoryQuery query;
    query.Open(path);
    EXPECT_EQ(query.Count(Everything()), 6);
    const HistorySeries users = query.Traffic(Everything(), true);
    EXPECT_EQ(users.m_Names.size(), 6u);  // each user's traffic kept in the merged period
}

// Two sessions' batches made one while the disk lags: each keeps its own
// texts, addresses and traffic, though the recorder hands them over as
// offsets into each batch's buffer.
TEST(HistoryWriterTest, MergedRecorderBatchesKeepEachSessionsTexts) {
    TempFolder folder;
    PMCTable table;
    MonitorRecord close{};
    auto record = [&](const std::string& server, const std::string& user,
                      const std::string& service, uint8_t dest, uint64_t bytes) {
        HistoryRecorder recorder;
        recorder.Connected(server, 1000);
        recorder.PeriodDone(table, 1060);  // past the first batch, whose traffic predates it
        EntryObj entry;
        entry.m_Key = "1:" + user;
        entry.m_UserName = user;
        entry.m_Service = service;
        entry.m_DestName = user + ".example";
        entry.m_Dest = Mon_Ipv4Address(192u << 24 | dest);
        entry.m_NextServer = Mon_Ipv4Address(10u << 24 | dest);
        entry.m_TotalIn = bytes;
        entry.m_Status = 2;
        entry.m_bFinished = 1;
        close.m_CloseValue = 1100;
        recorder.EntryChanged(entry, bytes, 10, false);
        recorder.EntryFinished(entry, close);
        return recorder.PeriodDone(table, 1120);
    };
    HistoryBatch merged = record("alpha", "ann", "www", 1, 1000);
    merged.Absorb(record("beta.example.org", "bob", "ftp", 2, 2000));
    const std::string path = folder.File("history.sqlite3");
    {
        HistoryStore store(path);
        store.Open(2000);
        store.Write(merged);
    }

    HistoryQuery query;
    query.Open(path);
    const std::vector<HistoryConnection> rows =
        query.Page(Everything(), HistoryQuery::ColServer, true, 0, 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].m_Server, "beta.example.org");
    EXPECT_EQ(rows[1].m_Key, "1:bob");
    EXPECT_EQ(rows[1].m_User, "bob");
    EXPECT_EQ(rows[1].m_DestName, "bob.example");
    EXPECT_EQ(rows[1].m_DestAddr, "192.0.0.2");
    EXPECT_EQ(rows[1].m_NextServer, "10.0.0.2");
    EXPECT_EQ(rows[1].m_SourceAddr, "");
    EXPECT_EQ(rows[1].m_BytesIn, 2000u);
    EXPECT_EQ(rows[0].m_Server, "alpha");
    EXPECT_EQ(rows[0].m_Service, "www");
    const HistorySeries users = query.Traffic(Everything(), true);
    ASSERT_EQ(users.m_Names, (std::vector<std::string>{"ann", "bob"}));
    uint64_t bob = 0;
    for (uint64_t value : users.m_Values[1]) bob += value;
    EXPECT_EQ(bob, 2010u);
}
