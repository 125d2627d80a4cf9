// The monitor message stream: Mon_Decode per record of each kind, and a
// 10,000-record batch read with Mon_Read from a loopback peer against a plain
// loop that reads the same framed bytes in large chunks and decodes every
// record too, so that the two do the same work.

#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "core/monitor/MonStream.h"
#include "support/FakeMonitor.h"

namespace {

constexpr int BatchRecords = 10000;

MonBytes OpenBody() {
    return EncodeOpen(1234, 56789, 0x02, 1700000000, "operator",
                      EncodeSockAddr("192.168.10.23", 40512), "workstation-23.lan.example");
}
MonBytes UpdateBody() {
    return EncodeUpdate(1234, 56789, "www", EncodeSockAddr("10.0.0.2", 1080), "hop.example",
                        EncodeSockAddr("93.184.216.34", 80), "www.example.com", 1234567, 89012);
}
MonBytes ResultBody() {
    return EncodeResult(1234, 56789, 61, "connection refused by peer");
}
MonBytes CloseBody() {
    return EncodeClose(1234, 56789, 0);
}

void DecodeKind(benchmark::State& state, const MonBytes& body) {
    MonitorRecord record{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Mon_Decode(static_cast<uint16_t>(body.size()), body.data(), &record));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DecodeOpen(benchmark::State& state) {
    DecodeKind(state, OpenBody());
}
void BM_DecodeUpdate(benchmark::State& state) {
    DecodeKind(state, UpdateBody());
}
void BM_DecodeResult(benchmark::State& state) {
    DecodeKind(state, ResultBody());
}
void BM_DecodeClose(benchmark::State& state) {
    DecodeKind(state, CloseBody());
}
BENCHMARK(BM_DecodeOpen);
BENCHMARK(BM_DecodeUpdate);
BENCHMARK(BM_DecodeResult);
BENCHMARK(BM_DecodeClose);

// A monitor that answers every request with the same batch of open, update,
// result and close records in turn.
MonBytes BatchBytes() {
    const MonBytes kinds[] = {OpenBody(), UpdateBody(), ResultBody(), CloseBody()};
    std::vector<MonBytes> bodies;
    bodies.reserve(BatchRecords);
    for (int i = 0; i < BatchRecords; ++i) {
        bodies.push_back(kinds[i % 4]);
    }
    return FrameBatch(bodies);
}

void BM_BatchMonRead(benchmark::State& state) {
    const MonBytes batch = BatchBytes();
    FakeMonitor monitor;
    monitor.SetDefaultReply({FakeStep::Send(batch)});
    MonitorConnection* connection = nullptr;
    if (Mon_Open(monitor.Host().c_str(), &connection) != 0) {
        state.SkipWithError("cannot connect to the loopback monitor");
        Mon_Close(connection);
        return;
    }
    MonitorRecord record;
    for (auto _ : state) {
        int records = 0;
        for (;;) {
            std::memset(&record, 0, sizeof record);
            const int32_t result = Mon_Read(connection, &record);
            if (result <= 0) {
                if (result < 0) {
                    state.SkipWithError(connection->m_LastErrorText);
                }
                break;
            }
            ++records;
        }
        if (records != BatchRecords) {
            state.SkipWithError("short batch");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * BatchRecords);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(batch.size()));
    Mon_Close(connection);
}
BENCHMARK(BM_BatchMonRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both batch reads are timed in real time: the peer thread works as well.
// The floor: the same request and the same framed bytes, read in 64 KiB
// chunks straight from the socket, each record decoded where it lies.
void BM_BatchPlainLoop(benchmark::State& state) {
    const MonBytes batch = BatchBytes();
    FakeMonitor monitor;
    monitor.SetDefaultReply({FakeStep::Send(batch)});
    int32_t code = 0;
    char text[128] = "";
    const MonSocket s = Mon_TcpConnect(monitor.Host().c_str(), MonitorPort, &code, text);
    if (s < 0) {
        state.SkipWithError(text);
        return;
    }
    const uint8_t request[3] = {0x00, 0x01, 0x00};
    std::vector<uint8_t> buffer(65536 + 2);
    MonitorRecord record;
    for (auto _ : state) {
        if (::send(s, request, sizeof request, MSG_NOSIGNAL) != sizeof request) {
            state.SkipWithError("send failed");
            break;
        }
        size_t have = 0;
        int records = 0;
        bool ended = false;
        while (!ended) {
            const ssize_t got = ::recv(s, buffer.data() + have, buffer.size() - have, 0);
            if (got <= 0) {
                state.SkipWithError("recv failed");
                break;
            }
            have += static_cast<size_t>(got);
            size_t at = 0;
            while (have - at >= 2) {
                const size_t length = (size_t{buffer[at]} << 8) | buffer[at + 1];
                if (have - at < 2 + length) {
                    break;
                }
                if (length == 0) {
                    at += 2;
                    ended = true;
                    break;
                }
                std::memset(&record, 0, sizeof record);
                if (Mon_Decode(static_cast<uint16_t>(length), buffer.data() + at + 2, &record) <
                    0) {
                    state.SkipWithError("illegal record");
                    break;
                }
                at += 2 + length;
                ++records;
            }
            std::memmove(buffer.data(), buffer.data() + at, have - at);
            have -= at;
        }
        if (records != BatchRecords) {
            state.SkipWithError("short batch");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * BatchRecords);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(batch.size()));
    Mon_TcpClose(s, &code, text);
}
BENCHMARK(BM_BatchPlainLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
