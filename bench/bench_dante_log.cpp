// Following Dante's log: lines read and turned into the hub's records per
// second, and so the CPU time of 10,000 lines, for a mix of sessions that
// open and close (half with a login, some refused), read from a real file
// by the follower as vgl-monitor reads it.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "DanteTracker.h"
#include "LogFollower.h"
#include "MonitorHub.h"

namespace {

constexpr int Lines = 10000;

std::string Endpoint(int host, int port) {
    return "10.0." + std::to_string(host / 250) + "." + std::to_string(host % 250 + 1) + "." +
           std::to_string(port);
}

// Every fifth session's destination refuses: a close line alone.
std::vector<std::string> SessionLines(int base) {
    std::vector<std::string> lines;
    for (int i = 0; lines.size() < Lines; ++i) {
        const int session = base + i;
        const std::string user = i % 2 ? "username%user" + std::to_string(i % 50) + "@" : "";
        const std::string client = user + Endpoint(session % 5000, 20000 + session % 40000);
        const std::string external = Endpoint(0, 30000 + session % 30000);
        const std::string dest = "192.0.2." + std::to_string(session % 200 + 1) + ".443";
        const std::string prefix =
            "Dec 10 02:36:16 (1796870176.173783) danted[5966]: info: pass(2): ";
        if (i % 5 != 4) {
            lines.push_back(prefix + "tcp/connect [: " + client + " 10.0.0.1.1080 -> " + external +
                            " " + dest);
        }
        lines.push_back(
            prefix + "tcp/connect ]: 48213 -> " + client + " 10.0.0.1.1080 -> 517, 517 -> " +
            external + " " + dest + " -> 48213: " +
            (i % 5 == 4 ? "remote peer error (Connection refused)" : "remote peer closed") +
            ".  Session duration: 3s");
    }
    lines.resize(Lines);
    return lines;
}

void BM_FollowAndTrack(benchmark::State& state) {
    char path[] = "/tmp/vgl-bench-dante-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    MonitorHub hub(1);
    DanteTracker tracker(hub);
    LogFollower follower(path);
    std::vector<std::string> lines;
    follower.Recent(lines, 0);
    int base = 0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::ofstream log(path, std::ios::app);
            for (const std::string& line : SessionLines(base)) log << line << '\n';
        }
        base += Lines;
        lines.clear();
        state.ResumeTiming();
        follower.Poll(lines);
        for (const std::string& line : lines) tracker.Take(line, 1796870176);
        state.PauseTiming();
        // A hub with no client keeps nothing; its live table is what remains.
        std::ofstream(path, std::ios::trunc);
        follower.Poll(lines);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * Lines);
    state.counters["open_now"] = static_cast<double>(tracker.OpenCount());
    std::remove(path);
}
BENCHMARK(BM_FollowAndTrack)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
