// The history: the UI thread's share of recording a period with 10,000
// finished connections (gathering them and handing them over), the writer's
// transaction for them, the size of a finished connection on disk, and the
// History view's queries over 1,000,000 finished connections and 30 days of
// one-minute periods: totals per user for 24 hours and the first page of a
// grid filtered by user.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/history/HistoryQuery.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryStore.h"
#include "core/history/HistoryWriter.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"

namespace {

constexpr int PerPeriod = 10000;
constexpr int64_t Day = 86400;
constexpr int64_t Now = 1760000000;
const char* const Services[] = {"www", "ftp", "telnet", "smtp", "nntp", "https", "Others"};

std::string Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vgl-bench-history-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return folder;
}

// A finished connection as a busy proxy sees them: a few hundred users, some
// thousands of destinations.
HistoryConnection Connection(int64_t i, int64_t end) {
    HistoryConnection c;
    c.m_Server = "proxy.example.org";
    c.m_Key = "7:" + std::to_string(i);
    c.m_User = "user" + std::to_string(i % 300);
    c.m_SourceAddr = "10.1." + std::to_string(i % 250) + "." + std::to_string(i % 200);
    c.m_SourceName = "pc" + std::to_string(i % 500) + ".lan";
    c.m_DestAddr = "93.184." + std::to_string(i % 200) + "." + std::to_string(i % 5000 / 200);
    c.m_DestName = "host" + std::to_string(i % 5000) + ".example.com";
    c.m_Service = Services[i % 7];
    c.m_ResultText = i % 10 == 0 ? "connection refused" : "";
    c.m_ResultCode = i % 10 == 0 ? 5 : 0;
    c.m_Status = i % 10 == 0 ? 1 : 2;
    c.m_AuthMethod = 2;
    c.m_StartTime = end - i % 600;
    c.m_EndTime = end;
    c.m_BytesIn = static_cast<uint64_t>(i * 7919 % 5000000);
    c.m_BytesOut = static_cast<uint64_t>(i * 104729 % 200000);
    return c;
}

// The table's entry for such a connection, as it finishes.
EntryObj EntryOf(const HistoryConnection& c) {
    EntryObj e;
    e.m_Key = c.m_Key;
    e.m_UserName = c.m_User;
    e.m_SourceName = c.m_SourceName;
    e.m_DestName = c.m_DestName;
    e.m_Service = c.m_Service;
    e.m_ResultText = c.m_ResultText;
    e.m_Source = Mon_Ipv4Address(10u << 24);
    e.m_Dest = Mon_Ipv4Address(93u << 24);
    e.m_StartTime = c.m_StartTime;
    e.m_TotalIn = c.m_BytesIn;
    e.m_TotalOut = c.m_BytesOut;
    e.m_FailureCode = c.m_ResultCode;
    e.m_Status = c.m_Status;
    e.m_AuthMethod = static_cast<uint8_t>(c.m_AuthMethod);
    e.m_bFinished = 1;
    return e;
}

std::vector<EntryObj> FinishedEntries(int64_t first = 0) {
    std::vector<EntryObj> entries;
    entries.reserve(PerPeriod);
    for (int64_t i = first; i < first + PerPeriod; ++i) entries.push_back(EntryOf(Connection(i, Now)));
    return entries;
}

// The UI thread's part: the table tells the recorder of each record and
// finished connection, then the period is handed to the writer.
void BM_RecordPeriod_UiThread(benchmark::State& state) {
    const std::vector<EntryObj> entries = FinishedEntries();
    MonitorRecord close{};
    close.m_CloseValue = static_cast<uint32_t>(Now);
    PMCTable table;
    HistoryRecorder recorder;
    HistoryWriter writer(Folder() + "/ui.sqlite3", HistoryWriterOptions{}, nullptr);
    writer.SetEnabled(false);  // the writer's side is measured below
    recorder.Connected("proxy.example.org", Now);
    recorder.PeriodDone(table, Now);  // past the first batch
    for (auto _ : state) {
        for (const EntryObj& entry : entries) {
            recorder.EntryChanged(entry, 1000, 100, false);
            recorder.EntryFinished(entry, close);
        }
        writer.Submit(recorder.PeriodDone(table, Now));
    }
    state.SetItemsProcessed(state.iterations() * PerPeriod);
}
BENCHMARK(BM_RecordPeriod_UiThread)->Unit(benchmark::kMillisecond);

// The writer's transaction for one such period, and the file's growth per connection.
void BM_RecordPeriod_WriterTransaction(benchmark::State& state) {
    const std::string path = Folder() + "/writer.sqlite3";
    std::filesystem::remove(path);
    HistoryStore store(path);
    store.Open(Now);
    int64_t next = 0;
    const uint64_t before = store.UsedBytes();
    MonitorRecord close{};
    close.m_CloseValue = static_cast<uint32_t>(Now);
    PMCTable table;
    HistoryRecorder recorder;
    recorder.Connected("proxy.example.org", Now);
    recorder.PeriodDone(table, Now);
    for (auto _ : state) {
        state.PauseTiming();
        // The batch as the UI thread hands it over: the writer makes the rows of it.
        for (const EntryObj& entry : FinishedEntries(next)) {
            recorder.EntryChanged(entry, 1000, 100, false);
            recorder.EntryFinished(entry, close);
        }
        next += PerPeriod;
        HistoryBatch batch = recorder.PeriodDone(table, Now);
        state.ResumeTiming();
        store.Write(batch);
    }
    state.counters["bytes_per_connection"] =
        static_cast<double>(store.UsedBytes() - before) / static_cast<double>(next);
    state.SetItemsProcessed(next);
}
BENCHMARK(BM_RecordPeriod_WriterTransaction)->Unit(benchmark::kMillisecond)->Iterations(20);

// 1,000,000 connections spread over 30 days, and a period a minute with its
// traffic by service and by 20 users; built once.
const std::string& QueryFile() {
    static const std::string path = [] {
        const std::string file = Folder() + "/query.sqlite3";
        HistoryStore store(file);
        store.Open(Now);
        constexpr int64_t Total = 1000000;
        constexpr int64_t Minutes = 30 * 1440;
        int64_t written = 0;
        for (int64_t minute = 0; minute < Minutes; minute += 60) {
            HistoryBatch batch;
            for (int64_t m = minute; m < minute + 60; ++m) {
                const int64_t end = Now - 30 * Day + m * 60;
                for (; written < Total * (m + 1) / Minutes; ++written)
                    batch.m_Connections.push_back(Connection(written, end));
                HistoryPeriod period;
                period.m_Server = "proxy.example.org";
                period.m_Time = end;
                period.m_Seconds = 60;
                for (const char* service : Services) period.m_Services[service] = {5000, 500};
                for (int u = 0; u < 20; ++u)
                    period.m_Users["user" + std::to_string(u)] = {3000, 300};
                batch.m_Periods.push_back(std::move(period));
            }
            store.Write(batch);
        }
        return file;
    }();
    return path;
}

HistoryRange LastDay(const std::string& filter = "") {
    HistoryRange range;
    range.m_From = Now - Day;
    range.m_To = Now;
    range.m_Filter = HistoryFilter::Parse(filter);
    return range;
}

void BM_Query_TotalsPerUser24h(benchmark::State& state) {
    HistoryQuery query;
    query.Open(QueryFile());
    size_t users = 0;
    for (auto _ : state) users = query.Totals(LastDay(), HistoryQuery::ByUser).size();
    state.counters["users"] = static_cast<double>(users);
}
BENCHMARK(BM_Query_TotalsPerUser24h)->Unit(benchmark::kMillisecond);

// What the grid asks first: the number of rows and the first page, newest first.
void BM_Query_FirstFilteredPage24h(benchmark::State& state) {
    HistoryQuery query;
    query.Open(QueryFile());
    int64_t rows = 0;
    for (auto _ : state) {
        const HistoryRange range = LastDay("user:user42");
        rows = query.Count(range);
        benchmark::DoNotOptimize(query.Page(range, HistoryQuery::ColEnd, false, 0, 200));
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Query_FirstFilteredPage24h)->Unit(benchmark::kMillisecond);

void BM_Query_TrafficByService30Days(benchmark::State& state) {
    HistoryQuery query;
    query.Open(QueryFile());
    HistoryRange range = LastDay();
    range.m_From = Now - 30 * Day;
    for (auto _ : state) benchmark::DoNotOptimize(query.Traffic(range, false));
}
BENCHMARK(BM_Query_TrafficByService30Days)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
