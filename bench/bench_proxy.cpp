// vgl-proxy on loopback, side by side in one run with the same transfers
// made directly and, when Debian's dante-server is installed, through danted:
//   - a 1 GiB transfer (bytes per second; goal: vgl-proxy at least 0.8x direct),
//     also through a vgl-proxy run as the unprivileged user nobody with 300
//     other connections open that have moved data (goal: its CPU per GiB
//     within 1.2x of the proxy run as root: the per-user pipe budget must not
//     shrink its pipes),
//   - CONNECTs per second (greeting, CONNECT, reply, close),
//   - memory per idle proxied connection that has moved a byte (proportional set
//     size of the proxy's processes, growth per connection; goal: at most 64 KiB).

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

#include <atomic>
#include <cstdio>
#include <fstream>
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
        m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = LoopbackAddress(m_Host, 0);
        socklen_t length = sizeof address;
        bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_Fd, 4096);
        getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_Port = ntohs(address.sin_port);
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

int Open(const Peer& peer, const Destination& destination) {
    if (peer.m_Host.empty()) return Connect(destination.Host(), destination.Port());
    const int fd = Connect(peer.m_Host, ProxyProcess::Port);
    if (fd >= 0 && !Socks(fd, destination.Host(), destination.Port())) {
        close(fd);
        return -1;
    }
    return fd;
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

void Connects(benchmark::State& state, const Peer& peer) {
    Destination destination(0, false);
    for (auto _ : state) {
        const int fd = Open(peer, destination);
        if (fd < 0) {
            state.SkipWithError("could not connect");
            return;
        }
        close(fd);
    }
    state.SetItemsProcessed(state.iterations());
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
        if (peer.m_Host.empty() || peer.m_Others > 0) continue;
        benchmark::RegisterBenchmark(("Connects/" + peer.m_Name).c_str(), Connects, peer)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("IdleMemory/" + peer.m_Name).c_str(), IdleMemory, peer)
            ->Iterations(1)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
