// The connection table's poll of one large batch from a loopback monitor
// (today's batch, where most records are refused at the limit, and one where
// every record applies to a kept entry), the UI thread's part of an
// asynchronous poll (applying a batch that has arrived), and the formatting
// of one entry's display texts.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"

namespace {

constexpr uint32_t Connections = 400;
constexpr uint32_t UpdatesPerConnection = 22;
// Per connection: open, updates, result, close.
constexpr int64_t RecordsPerBatch = Connections * (UpdatesPerConnection + 3);  // 10,000

// All opens first, so that only 51 connections get in and the records of the
// others are refused by the limit; then the updates round-robin, the results
// (every fourth one failed) and the closes.
MonBytes BuildBatch() {
    const char* services[] = {"ftp", "www", "telnet", "smtp", "nntp"};
    std::vector<MonBytes> records;
    records.reserve(RecordsPerBatch);
    for (uint32_t id = 1; id <= Connections; ++id)
        records.push_back(EncodeOpen(7, id, 2, 1700000000 + id, "user" + std::to_string(id),
                                     EncodeSockAddr("10.1.2.3", 4000), "client.example"));
    for (uint32_t round = 1; round <= UpdatesPerConnection; ++round)
        for (uint32_t id = 1; id <= Connections; ++id)
            records.push_back(EncodeUpdate(7, id, services[id % 5], {}, "",
                                           EncodeSockAddr("93.184.216.34", 80), "dest.example",
                                           round * 1000 + id, round * 300));
    for (uint32_t id = 1; id <= Connections; ++id)
        records.push_back(EncodeResult(7, id, id % 4 == 0 ? 91 : 0, "done"));
    for (uint32_t id = 1; id <= Connections; ++id) records.push_back(EncodeClose(7, id));
    return FrameBatch(records);
}

// 50 connections (all kept: under the limit), then updates round-robin with
// growing traffic, 10,000 records in all.
MonBytes BuildKeptBatch() {
    constexpr uint32_t Kept = 50;
    const char* services[] = {"ftp", "www", "telnet", "smtp", "nntp"};
    std::vector<MonBytes> records;
    records.reserve(RecordsPerBatch);
    for (uint32_t id = 1; id <= Kept; ++id)
        records.push_back(EncodeOpen(7, id, 2, 1700000000 + id, "user" + std::to_string(id),
                                     EncodeSockAddr("10.1.2.3", 4000), "client.example"));
    for (uint32_t n = 0; records.size() < RecordsPerBatch; ++n) {
        const uint32_t id = 1 + n % Kept;
        records.push_back(EncodeUpdate(7, id, services[id % 5], {}, "",
                                       EncodeSockAddr("93.184.216.34", 80), "dest.example",
                                       n * 1000 + id, n * 300));
    }
    return FrameBatch(records);
}

void SetPerRecord(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * RecordsPerBatch);
    state.counters["per_record"] = benchmark::Counter(
        static_cast<double>(RecordsPerBatch),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void PollBatch(benchmark::State& state, const MonBytes& batch) {
    FakeMonitor monitor;
    PMCTable table;
    table.SetServices({"ftp", "www", "telnet", "Others"});
    table.CreateConnection(monitor.Host());
    if (!table.IsConnected()) {
        state.SkipWithError("no connection to the fake monitor");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        table.ClearAll();
        monitor.QueueRaw(batch);
        state.ResumeTiming();
        if (table.Poll() != 0) {
            state.SkipWithError("poll failed");
            break;
        }
    }
    SetPerRecord(state);
}

void BM_PollBatch(benchmark::State& state) {
    PollBatch(state, BuildBatch());
}
BENCHMARK(BM_PollBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PollKeptBatch(benchmark::State& state) {
    PollBatch(state, BuildKeptBatch());
}
BENCHMARK(BM_PollKeptBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the UI thread does when a worker hands over a batch that has fully
// arrived: the records applied to the table and the display list rebuilt.
void ApplyBatch(benchmark::State& state, const MonBytes& bytes) {
    FakeMonitor monitor;
    monitor.QueueRaw(bytes);
    MonitorConnection* reader = nullptr;
    MonBatch arrived;
    const bool read = Mon_Open(monitor.Host().c_str(), &reader) == 0 &&
                      Mon_ReadBatch(reader, arrived, GetSessionLimits()) == 0;
    Mon_Close(reader);  // the monitor serves one client at a time
    PMCTable table;
    table.SetServices({"ftp", "www", "telnet", "Others"});
    table.CreateConnection(monitor.Host());
    if (!read || !table.IsConnected()) {
        state.SkipWithError("no batch from the fake monitor");
        return;
    }
    MonBatch spare;
    for (auto _ : state) {
        state.PauseTiming();
        table.ClearAll();
        MonitorConnection* lent = table.LendConnection(spare);
        MonBatch batch = arrived;
        state.ResumeTiming();
        if (table.ApplyBatch(lent, batch) != 0) {
            state.SkipWithError("apply failed");
            break;
        }
    }
    SetPerRecord(state);
}

void BM_ApplyBatch(benchmark::State& state) {
    ApplyBatch(state, BuildBatch());
}
BENCHMARK(BM_ApplyBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApplyKeptBatch(benchmark::State& state) {
    ApplyBatch(state, BuildKeptBatch());
}
BENCHMARK(BM_ApplyKeptBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

// A hostile monitor's largest batch: 64 MiB of close records for connections
// never opened (4,473,924 of them), applied in slices of 8 ms as the session
// does (range 1) or in one go (range 0). Counters: the longest slice, which
// is how long the UI thread is held at a time, and the number of slices.
void BM_MaximalBatch(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const bool sliced = state.range(0) != 0;
    const MonBytes close = EncodeClose(9, 1);
    const size_t limit = GetSessionLimits().m_BatchBytes;
    MonBatch arrived;
    for (uint32_t id = 1; arrived.Bytes() + 2 + close.size() <= limit; ++id) {
        MonBytes body = close;
        PutU32(body, 5, id);
        arrived.Append(body.data(), static_cast<uint16_t>(body.size()), limit);
    }
    FakeMonitor monitor;
    PMCTable table;
    table.SetServices({"ftp", "www", "Others"});
    table.CreateConnection(monitor.Host());
    if (!table.IsConnected()) {
        state.SkipWithError("no connection to the fake monitor");
        return;
    }
    double longest = 0;
    int64_t slices = 0;
    MonBatch spare;
    for (auto _ : state) {
        state.PauseTiming();
        MonitorConnection* lent = table.LendConnection(spare);
        MonBatch batch = arrived;
        state.ResumeTiming();
        table.TakeBatch(lent, batch);
        const auto slice = sliced ? std::chrono::milliseconds(8) : std::chrono::hours(1);
        for (int32_t result = PMCTable::ApplyMore; result == PMCTable::ApplyMore; ++slices) {
            const auto start = Clock::now();
            result = table.ApplySlice(start + slice);
            longest = std::max(
                longest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    state.counters["longest_ms"] = longest;
    state.counters["slices"] =
        benchmark::Counter(static_cast<double>(slices), benchmark::Counter::kAvgIterations);
    state.counters["records"] = static_cast<double>(arrived.Bytes() / (2 + close.size()));
}
BENCHMARK(BM_MaximalBatch)->ArgName("sliced")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SetDisplay(benchmark::State& state) {
    MonitorRecord record{};
    record.m_IdHigh = 1;
    record.m_IdLow = 2;
    record.m_Kind = RecordKindOpen;
    record.m_StartTime = 1700000000;
    record.m_AuthMethod = 2;
    std::strcpy(record.m_UserName, "alice");
    std::strcpy(record.m_SourceName, "client.example");
    const MonBytes source = EncodeSockAddr("10.1.2.3", 4000);
    std::memcpy(record.m_SourceAddr, source.data(), 16);
    EntryObj entry;
    uint64_t delta = 0;
    entry.Apply(record, delta);

    MonitorRecord update{};
    update.m_IdHigh = 1;
    update.m_IdLow = 2;
    update.m_Kind = RecordKindUpdate;
    update.m_TrafficIn = 123456789;
    update.m_TrafficOut = 98765;
    std::strcpy(update.m_ServiceName, "www");
    const MonBytes dest = EncodeSockAddr("93.184.216.34", 80);
    std::memcpy(update.m_DestAddr, dest.data(), 16);
    entry.Apply(update, delta);

    const int32_t hostForm = static_cast<int32_t>(state.range(0));
    const int32_t dataUnit = static_cast<int32_t>(state.range(1));
    for (auto _ : state) {
        entry.SetDisplay(hostForm, dataUnit);
        benchmark::DoNotOptimize(entry.GetColumnText(5).data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetDisplay)
    ->ArgNames({"hostForm", "dataUnit"})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({0, 2});

}  // namespace

BENCHMARK_MAIN();
