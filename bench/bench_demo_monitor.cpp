// The demo monitor as a busy proxy: the real vgl-demo-monitor started with
// --connections N on a loopback address and polled with the client's own
// Mon_Read. The first poll is timed from the start of the program (its
// start-up included), later ones five seconds apart, the shortest period a
// session polls at. The resident memory of the monitor is reported with the
// connections it serves.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "core/monitor/MonStream.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LaterPollSeconds = 5;

std::string RandomLoopbackHost() {
    std::random_device device;
    std::uniform_int_distribution<int> byte(1, 254);
    return "127." + std::to_string(byte(device)) + "." + std::to_string(byte(device)) + "." +
           std::to_string(byte(device));
}

// The monitor as a child with its output thrown away; stopped at the end.
class DemoProcess {
public:
    DemoProcess(const std::string& host, int connections) {
        const std::string count = std::to_string(connections);
        m_Pid = ::fork();
        if (m_Pid == 0) {
            // Ends with the benchmark, even one that is interrupted.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(VGL_DEMO_MONITOR_BINARY, VGL_DEMO_MONITOR_BINARY, "--listen", host.c_str(),
                    "--seed", "1", "--connections", count.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~DemoProcess() {
        if (m_Pid > 0) {
            ::kill(m_Pid, SIGTERM);
            ::waitpid(m_Pid, nullptr, 0);
        }
    }
    DemoProcess(const DemoProcess&) = delete;
    DemoProcess& operator=(const DemoProcess&) = delete;

    bool Started() const { return m_Pid > 0; }

    // VmRSS of /proc/<pid>/status, in bytes.
    double ResidentBytes() const {
        std::ifstream status("/proc/" + std::to_string(m_Pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stod(line.substr(6)) * 1024;
            }
        }
        return 0;
    }

    // User and system time of the monitor so far, in seconds: what a poll
    // costs it, whatever else the machine is doing.
    double CpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(m_Pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // The fields after the program's name, which is in parentheses.
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i >= 14) {
                ticks += std::stod(field);
            }
        }
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    pid_t m_Pid = -1;
};

// Connects as soon as the monitor listens; null after ten seconds without.
MonitorConnection* ConnectWhenListening(const std::string& host) {
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < giveUp) {
        MonitorConnection* connection = nullptr;
        if (Mon_Open(host.c_str(), &connection) == 0) {
            return connection;
        }
        Mon_Close(connection);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return nullptr;
}

// The records of one poll, or -1 when it failed.
int Poll(MonitorConnection* connection) {
    MonitorRecord record;
    int records = 0;
    for (;;) {
        const int32_t result = Mon_Read(connection, &record);
        if (result <= 0) {
            return result < 0 ? -1 : records;
        }
        ++records;
    }
}

// The records and memory of the last poll, the monitor's time on average.
void Report(benchmark::State& state, const DemoProcess& demo, int records, double cpuSeconds) {
    const double rss = demo.ResidentBytes();
    state.counters["records"] = records;
    state.counters["demo_cpu_ms"] =
        benchmark::Counter(cpuSeconds * 1000, benchmark::Counter::kAvgIterations);
    state.counters["rss_MiB"] = rss / (1024 * 1024);
    state.counters["rss_per_conn"] = rss / static_cast<double>(state.range(0));
}

// From the start of the program to the end of its first answer.
void BM_DemoFirstPoll(benchmark::State& state) {
    Mon_TcpSetTimeouts(15000, 300000);
    double cpuSeconds = 0;
    for (auto _ : state) {
        const std::string host = RandomLoopbackHost();
        const Clock::time_point start = Clock::now();
        DemoProcess demo(host, static_cast<int>(state.range(0)));
        MonitorConnection* connection = demo.Started() ? ConnectWhenListening(host) : nullptr;
        if (connection == nullptr) {
            state.SkipWithError("the demo monitor does not listen");
            break;
        }
        const int records = Poll(connection);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        cpuSeconds += demo.CpuSeconds();
        Report(state, demo, records, cpuSeconds);
        Mon_Close(connection);
        if (records < 0) {
            state.SkipWithError("the first poll failed");
            break;
        }
    }
}
BENCHMARK(BM_DemoFirstPoll)
    ->Arg(17)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A poll of a client that polled before, the interval in between not timed.
void BM_DemoLaterPoll(benchmark::State& state) {
    Mon_TcpSetTimeouts(15000, 300000);
    const std::string host = RandomLoopbackHost();
    DemoProcess demo(host, static_cast<int>(state.range(0)));
    MonitorConnection* connection = demo.Started() ? ConnectWhenListening(host) : nullptr;
    if (connection == nullptr || Poll(connection) < 0) {
        state.SkipWithError("the demo monitor does not answer");
        Mon_Close(connection);
        return;
    }
    double cpuSeconds = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::seconds(LaterPollSeconds));
        const Clock::time_point start = Clock::now();
        const double cpu = demo.CpuSeconds();
        const int records = Poll(connection);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        cpuSeconds += demo.CpuSeconds() - cpu;
        Report(state, demo, records, cpuSeconds);
        if (records < 0) {
            state.SkipWithError("a later poll failed");
            break;
        }
    }
    Mon_Close(connection);
}
BENCHMARK(BM_DemoLaterPoll)
    ->Arg(17)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
