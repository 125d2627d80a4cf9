// vgl-proxy on loopback, side by side in one run with the same transfers
// made directly and, when Debian's dante-server is installed, through danted:
//   - a 1 GiB transfer (bytes per second; goal: vgl-proxy at least 0.8x direct),
//     also through a vgl-proxy run as the unprivileged user nobody with 300
//     other connections open that have moved data (goal: its CPU per GiB
//     within 1.2x of the proxy run as root: the per-user pipe budget must not
//     shrink its pipes),
//   - CONNECTs per second of 50 clients at once (greeting, CONNECT, reply,
//     close; goal: vgl-proxy at least twice Dante's), and the proxy's CPU per CONNECT,
//   - the time a 64-byte request takes to come back from an echo peer, 200
//     streams at once, each sending one every 20 ms (its p50 and p99; goal:
//     vgl-proxy's p99 at most half Dante's),
//   - memory per idle proxied connection that has moved a byte (proportional set
//     size of the proxy's processes, growth per connection; goal: at most 64 KiB);
// the run ends with lines that set the CONNECT and latency figures against
// Dante's, the medians of the repetitions (with --benchmark_repetitions=3 and
// --benchmark_enable_random_interleaving=true the peers' runs alternate, so
// that a machine whose load changes weighs on all of them alike).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/epoll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ProxyHarness.h"

extern char** environ;

namespace {

constexpr char DantePath[] = "/usr/sbin/danted";
constexpr size_t GiB = size_t{1} << 30;
constexpr int IdleConnections = 1000;
constexpr int ConnectClients = 50;
constexpr int LatencyStreams = 200;
constexpr size_t LatencyRequest = 64;
// 10,000 requests a second in all: a load both proxies keep up with, so that
// the figure is their delay, not their queue.
constexpr auto LatencyInterval = std::chrono::milliseconds(20);
constexpr auto Span = std::chrono::seconds(2);  // of each CONNECT and latency run

using Clock = std::chrono::steady_clock;

// A socket listening on a free port of this loopback address.
int Listen(const std::string& host, int flags, uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in address = LoopbackAddress(host, 0);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 4096);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int Connect(const std::string& host, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = LoopbackAddress(host, port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ReadAll(int fd, void* data, size_t size) {
    auto* at = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = recv(fd, at, size, 0);
        if (n <= 0) return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Greeting and CONNECT; the socket then carries the destination's bytes.
bool Socks(int fd, const std::string& host, uint16_t port) {
    Bytes request = {0x05, 0x01, 0x00};
    const Bytes connect = ConnectRequest(host, port);
    request.insert(request.end(), connect.begin(), connect.end());
    uint8_t reply[12];
    return send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(request.size()) &&
           ReadAll(fd, reply, sizeof reply) && reply[1] == 0x00 && reply[3] == 0x00;
}

// A destination on loopback: sends `m_Send` bytes to every client and closes,
// or, with m_bHold, sends one byte and keeps the connection open.
class Destination {
public:
    Destination(size_t send, bool hold)
        : m_Host(RandomLoopbackHost()), m_Send(send), m_bHold(hold) {
        m_Fd = Listen(m_Host, 0, m_Port);
        m_Thread = std::thread([this] { Run(); });
    }
    ~Destination() {
        m_bStop = true;
        shutdown(m_Fd, SHUT_RDWR);
        m_Thread.join();
        close(m_Fd);
        for (int fd : m_Held) close(fd);
    }
    const std::string& Host() const { return m_Host; }
    uint16_t Port() const { return m_Port; }
    void DropHeld() {
        std::vector<int> held;
        {
            std::lock_guard lock(m_Mutex);
            held.swap(m_Held);
        }
        for (int fd : held) close(fd);
    }

private:
    void Run() {
        std::vector<uint8_t> chunk(1 << 20, 'x');
        while (!m_bStop) {
            const int client = accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            if (m_bHold) {
                // One byte, so that each idle connection has moved data once.
                send(client, "x", 1, MSG_NOSIGNAL);
                std::lock_guard lock(m_Mutex);
                m_Held.push_back(client);
                continue;
            }
            for (size_t left = m_Send; left > 0;) {
                const ssize_t n =
                    send(client, chunk.data(), std::min(left, chunk.size()), MSG_NOSIGNAL);
                if (n <= 0) break;
                left -= static_cast<size_t>(n);
            }
            close(client);
        }
    }

    std::string m_Host;
    size_t m_Send;
    bool m_bHold;
    int m_Fd = -1;
    uint16_t m_Port = 0;
    std::atomic<bool> m_bStop{false};
    std::mutex m_Mutex;
    std::vector<int> m_Held;
    std::thread m_Thread;
};

// A destination on loopback that sends back whatever it gets, on one thread
// for all its connections.
class EchoPeer {
public:
    EchoPeer() : m_Host(RandomLoopbackHost()) {
        m_Fd = Listen(m_Host, SOCK_NONBLOCK, m_Port);
        m_Thread = std::thread([this] { Run(); });
    }
    ~EchoPeer() {
        m_bStop = true;
        m_Thread.join();
        close(m_Fd);
    }
    const std::string& Host() const { return m_Host; }
    uint16_t Port() const { return m_Port; }

private:
    void Run() {
        const int poller = epoll_create1(EPOLL_CLOEXEC);
        epoll_event event{EPOLLIN, {.fd = m_Fd}};
        epoll_ctl(poller, EPOLL_CTL_ADD, m_Fd, &event);
        std::vector<int> clients;
        epoll_event ready[256];
        char buffer[4096];
        while (!m_bStop) {
            const int count = epoll_wait(poller, ready, 256, 50);
            for (int i = 0; i < count; ++i) {
                const int fd = ready[i].data.fd;
                if (fd == m_Fd) {
                    for (int client;
                         (client = accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                        const int on = 1;
                        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                        epoll_event in{EPOLLIN, {.fd = client}};
                        epoll_ctl(poller, EPOLL_CTL_ADD, client, &in);
                        clients.push_back(client);
                    }
                    continue;
                }
                // The requests are small: what one read gets goes back in one write.
                const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
                } else if (n == 0) {
                    epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
                }
            }
        }
        for (int fd : clients) close(fd);
        close(poller);
    }

    std::string m_Host;
    int m_Fd = -1;
    uint16_t m_Port = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
};

// danted on a random loopback address, when installed.
class Dante {
public:
    Dante() : m_Host(RandomLoopbackHost()) {
        if (access(DantePath, X_OK) != 0) return;
        m_Config = "/tmp/vgl-bench-danted-" + std::to_string(getpid()) + ".conf";
        std::ofstream(m_Config) << "logoutput: /dev/null\n"
                                << "internal: " << m_Host << " port = 1080\n"
                                << "external: lo\n"
                                << "clientmethod: none\nsocksmethod: none\n"
                                << "user.privileged: root\nuser.unprivileged: nobody\n"
                                << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                << "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
        std::string config = m_Config;
        char* argv[] = {const_cast<char*>(DantePath), const_cast<char*>("-f"), config.data(),
                        nullptr};
        if (posix_spawn(&m_Pid, DantePath, nullptr, nullptr, argv, environ) != 0) m_Pid = -1;
        for (int i = 0; i < 100 && m_Pid > 0; ++i) {
            const int fd = Connect(m_Host, 1080);
            if (fd >= 0) {
                close(fd);
                return;
            }
            usleep(50000);
        }
    }
    ~Dante() {
        if (m_Pid > 0) {
            kill(m_Pid, SIGTERM);
            waitpid(m_Pid, nullptr, 0);
        }
        if (!m_Config.empty()) std::remove(m_Config.c_str());
    }
    bool Running() const { return m_Pid > 0; }
    pid_t Pid() const { return m_Pid; }
    const std::string& Host() const { return m_Host; }

private:
    std::string m_Host;
    std::string m_Config;
    pid_t m_Pid = -1;
};

// A process and all its descendants (danted serves from child processes).
std::vector<pid_t> Family(pid_t root) {
    std::vector<pid_t> family = {root};
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t pid = std::atoi(entry->d_name);
            if (pid <= 0 || pid == root) continue;
            for (pid_t at = pid; at > 1;) {
                std::ifstream stat("/proc/" + std::to_string(at) + "/stat");
                std::string skip;
                pid_t parent = 0;
                stat >> skip >> skip >> skip >> parent;
                if (parent == root) {
                    family.push_back(pid);
                    break;
                }
                at = parent;
            }
        }
        closedir(proc);
    }
    return family;
}

// Proportional set size in KiB of a process and its descendants.
size_t PssKiB(pid_t root) {
    const std::vector<pid_t> family = Family(root);
    size_t total = 0;
    for (pid_t pid : family) {
        std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
        std::string word;
        while (rollup >> word) {
            if (word == "Pss:") {
                size_t kib = 0;
                rollup >> kib;
                total += kib;
                break;
            }
        }
    }
    return total;
}

// CPU time in milliseconds spent by a process and its descendants' threads.
double CpuMs(pid_t root) {
    double ticks = 0;
    for (pid_t pid : Family(root)) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string field;
        for (int i = 1; i <= 15 && stat >> field; ++i) {
            if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
        }
    }
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Peer {
    std::string m_Name;
    std::string m_Host;  // empty: direct
    pid_t m_Pid = -1;
    int m_Others = 0;  // connections held open during a transfer
};

constexpr int OtherConnections = 300;

// All the benchmark's clients come from one address: its limits must not act.
const std::vector<std::string> ProxyOptions = {"--quiet", "--max-per-client", "5000",
                                               "--max-handshakes-per-client", "5000"};

ProxyProcess& Proxy() {
    static ProxyProcess proxy(ProxyOptions);
    return proxy;
}

// The same program as a user without privileges, as the packaged unit runs it.
ProxyProcess& UnprivilegedProxy() {
    static ProxyProcess proxy(
        ProxyOptions,
        {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"},
        RandomLoopbackHost());
    return proxy;
}

Dante& DanteServer() {
    static Dante dante;
    return dante;
}

int Open(const Peer& peer, const std::string& host, uint16_t port) {
    if (peer.m_Host.empty()) return Connect(host, port);
    const int fd = Connect(peer.m_Host, ProxyProcess::Port);
    if (fd >= 0 && !Socks(fd, host, port)) {
        close(fd);
        return -1;
    }
    return fd;
}

template <typename Peer_>
int Open(const Peer& peer, const Peer_& destination) {
    return Open(peer, destination.Host(), destination.Port());
}

// Each peer's figures over the repetitions, for the comparison at the end.
struct Figures {
    std::vector<double> m_ConnectsPerSecond;
    std::vector<double> m_P99Ms;
};
std::map<std::string, Figures> g_Figures;  // only the benchmark's own thread touches it

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void Transfer(benchmark::State& state, const Peer& peer) {
    Destination destination(GiB, false);
    Destination others(0, true);
    std::vector<int> held;
    for (int i = 0; i < peer.m_Others; ++i) {
        held.push_back(Open(peer, others));
        char byte = 0;
        if (held.back() < 0 || !ReadAll(held.back(), &byte, 1)) {
            state.SkipWithError("could not open the other connections");
        }
    }
    if (peer.m_Others > 0) sleep(2);  // idle long enough to give their pipes back
    std::vector<uint8_t> buffer(1 << 20);
    const double cpuBefore = peer.m_Pid > 0 ? CpuMs(peer.m_Pid) : 0;
    for (auto _ : state) {
        const int fd = Open(peer, destination);
        if (fd < 0) {
            state.SkipWithError("could not connect");
            return;
        }
        size_t received = 0;
        for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
            received += static_cast<size_t>(n);
        }
        close(fd);
        if (received != GiB) state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
    // What the proxy itself spent, which the machine's other load does not change.
    if (peer.m_Pid > 0) state.counters["proxy_cpu_ms_per_GiB"] = CpuMs(peer.m_Pid) - cpuBefore;
    for (int fd : held) {
        if (fd >= 0) close(fd);
    }
}

// 50 clients, each opening and closing one proxied connection after another.
void Connects(benchmark::State& state, const Peer& peer) {
    Destination destination(0, false);
    for (auto _ : state) {
        std::atomic<uint64_t> done{0};
        std::atomic<bool> failed{false};
        const double cpuBefore = peer.m_Pid > 0 ? CpuMs(peer.m_Pid) : 0;
        const Clock::time_point start = Clock::now();
        std::vector<std::thread> clients;
        for (int i = 0; i < ConnectClients; ++i) {
            clients.emplace_back([&] {
                while (!failed && Clock::now() - start < Span) {
                    const int fd = Open(peer, destination);
                    if (fd < 0) {
                        failed = true;
                        return;
                    }
                    close(fd);
                    done.fetch_add(1, std::memory_order_relaxed);
                }
            });
        }
        for (std::thread& client : clients) client.join();
        if (failed) state.SkipWithError("could not connect");
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double rate = static_cast<double>(done) / seconds;
        state.counters["connects_per_s"] = rate;
        // What the proxy spent on each, which the machine's other load changes less.
        if (peer.m_Pid > 0 && done > 0) {
            state.counters["proxy_cpu_us_per_connect"] =
                (CpuMs(peer.m_Pid) - cpuBefore) * 1000 / static_cast<double>(done);
        }
        g_Figures[peer.m_Name].m_ConnectsPerSecond.push_back(rate);
    }
}

// Streams that each send a request every LatencyInterval (or as soon as the
// last one is back, when it took longer), starting one after another; the
// time of each round trip, from its send to its last byte.
void Latency(benchmark::State& state, const Peer& peer) {
    EchoPeer echo;
    std::vector<int> streams;
    for (int i = 0; i < LatencyStreams; ++i) {
        streams.push_back(Open(peer, echo));
        if (streams.back() < 0) {
            state.SkipWithError("could not open a stream");
            for (int fd : streams) close(fd);
            return;
        }
        const int on = 1;
        setsockopt(streams.back(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < LatencyStreams; ++i) {
        epoll_event in{EPOLLIN, {.u32 = static_cast<uint32_t>(i)}};
        epoll_ctl(poller, EPOLL_CTL_ADD, streams[i], &in);
    }
    const uint8_t request[LatencyRequest] = {};
    for (auto _ : state) {
        const double cpuBefore = peer.m_Pid > 0 ? CpuMs(peer.m_Pid) : 0;
        const Clock::time_point start = Clock::now();
        std::vector<Clock::time_point> due(LatencyStreams), sent(LatencyStreams);
        std::vector<bool> waiting(LatencyStreams, false);
        std::vector<size_t> received(LatencyStreams, 0);
        for (int i = 0; i < LatencyStreams; ++i)
            due[i] = start + LatencyInterval * i / LatencyStreams;
        std::vector<double> micros;
        bool broken = false;
        epoll_event ready[LatencyStreams];
        uint8_t buffer[LatencyRequest];
        while (!broken && Clock::now() - start < Span) {
            Clock::time_point next = Clock::time_point::max();
            const Clock::time_point now = Clock::now();
            for (int i = 0; i < LatencyStreams && !broken; ++i) {
                if (waiting[i]) continue;
                if (due[i] > now) {
                    next = std::min(next, due[i]);
                    continue;
                }
                sent[i] = now;
                due[i] = std::max(due[i] + LatencyInterval, now);
                waiting[i] = true;
                received[i] = 0;
                broken |= send(streams[i], request, sizeof request, MSG_NOSIGNAL) !=
                          static_cast<ssize_t>(sizeof request);
            }
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
            const int count =
                epoll_wait(poller, ready, LatencyStreams,
                           static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 1000)));
            for (int k = 0; k < count && !broken; ++k) {
                const int i = static_cast<int>(ready[k].data.u32);
                const ssize_t n = recv(streams[i], buffer, LatencyRequest - received[i], 0);
                broken |= n <= 0;
                received[i] += static_cast<size_t>(std::max<ssize_t>(n, 0));
                if (received[i] < LatencyRequest) continue;
                micros.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent[i]).count());
                waiting[i] = false;
            }
        }
        if (broken || micros.empty()) {
            state.SkipWithError("a stream broke");
            break;
        }
        std::sort(micros.begin(), micros.end());
        const double p99 = micros[micros.size() * 99 / 100] / 1000;
        state.counters["p50_ms"] = micros[micros.size() / 2] / 1000;
        state.counters["p99_ms"] = p99;
        state.counters["round_trips"] = static_cast<double>(micros.size());
        if (peer.m_Pid > 0) {
            state.counters["proxy_cpu_us_per_round_trip"] =
                (CpuMs(peer.m_Pid) - cpuBefore) * 1000 / static_cast<double>(micros.size());
        }
        g_Figures[peer.m_Name].m_P99Ms.push_back(p99);
    }
    close(poller);
    for (int fd : streams) close(fd);
}

// The medians of the repetitions, vgl-proxy's against Dante's, of the
// figures both have.
void CompareWithDante() {
    const auto ours = g_Figures.find("vgl-proxy");
    const auto dante = g_Figures.find("dante");
    if (ours == g_Figures.end() || dante == g_Figures.end()) return;
    const auto ratio = [](const std::vector<double>& mine, const std::vector<double>& theirs) {
        const double base = Median(theirs);
        return mine.empty() || base <= 0 ? 0.0 : Median(mine) / base;
    };
    const double connects =
        ratio(ours->second.m_ConnectsPerSecond, dante->second.m_ConnectsPerSecond);
    const double p99 = ratio(ours->second.m_P99Ms, dante->second.m_P99Ms);
    if (connects > 0) {
        std::printf("vgl-proxy against dante: %.2fx its CONNECTs per second (goal: at least 2x)\n",
                    connects);
    }
    if (p99 > 0) {
        std::printf("vgl-proxy against dante: %.2fx its p99 latency (goal: at most 0.5x)\n", p99);
    }
}

void IdleMemory(benchmark::State& state, const Peer& peer) {
    Destination destination(0, true);
    for (auto _ : state) {
        const size_t before = PssKiB(peer.m_Pid);
        std::vector<int> clients;
        for (int i = 0; i < IdleConnections; ++i) {
            clients.push_back(Open(peer, destination));
            char byte = 0;
            if (clients.back() < 0 || !ReadAll(clients.back(), &byte, 1)) {
                state.SkipWithError("could not open an idle connection");
            }
        }
        usleep(200000);  // let the proxy settle its bookkeeping
        const size_t after = PssKiB(peer.m_Pid);
        state.counters["KiB_per_connection"] =
            (static_cast<double>(after) - static_cast<double>(before)) / IdleConnections;
        for (int fd : clients) {
            if (fd >= 0) close(fd);
        }
        destination.DropHeld();
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<Peer> peers = {{"direct", "", -1}};
    if (Proxy().Started()) peers.push_back({"vgl-proxy", Proxy().Host(), Proxy().Pid()});
    if (UnprivilegedProxy().Started()) {
        peers.push_back({"vgl-proxy-as-nobody-300-open", UnprivilegedProxy().Host(),
                         UnprivilegedProxy().Pid(), OtherConnections});
    }
    if (DanteServer().Running()) {
        peers.push_back({"dante", DanteServer().Host(), DanteServer().Pid()});
    } else {
        std::fprintf(stderr, "bench_proxy: %s not installed; dante not measured\n", DantePath);
    }
    for (const Peer& peer : peers) {
        benchmark::RegisterBenchmark(("Transfer1GiB/" + peer.m_Name).c_str(), Transfer, peer)
            ->Iterations(1)
            ->Repetitions(3)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (const Peer& peer : peers) {
        if (peer.m_Others > 0) continue;
        benchmark::RegisterBenchmark(("Connects/" + peer.m_Name).c_str(), Connects, peer)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Latency/" + peer.m_Name).c_str(), Latency, peer)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        if (peer.m_Host.empty()) continue;
        benchmark::RegisterBenchmark(("IdleMemory/" + peer.m_Name).c_str(), IdleMemory, peer)
            ->Iterations(1)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    CompareWithDante();
    benchmark::Shutdown();
    return 0;
}
