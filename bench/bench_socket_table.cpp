// The kernel's counters for 10,000 open sessions: one read of every TCP
// socket (what vgl-monitor does before each batch) and a look-up per
// session. 10,000 loopback connections are made first (20,000 sockets,
// over several 127.x addresses so that ports do not run out).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "SocketTable.h"
#include "core/monitor/MonNetAddress.h"

namespace {

constexpr int Sessions = 10000;

struct Connections {
    std::vector<int> m_Fds;
    std::vector<MonNetAddress> m_Locals;

    Connections() {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, "127.77.0.1", &address.sin_addr);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 4096);
        socklen_t length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        for (int i = 0; i < Sessions; ++i) {
            const int client = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in source{};
            source.sin_family = AF_INET;
            source.sin_addr.s_addr = htonl(0x7F4D0100u + static_cast<uint32_t>(i / 20000 + 1));
            bind(client, reinterpret_cast<sockaddr*>(&source), sizeof source);
            if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) break;
            m_Fds.push_back(client);
            m_Fds.push_back(accept(listener, nullptr, nullptr));
            sockaddr_in local{};
            length = sizeof local;
            getsockname(client, reinterpret_cast<sockaddr*>(&local), &length);
            m_Locals.push_back(
                Mon_Ipv4Address(ntohl(local.sin_addr.s_addr), ntohs(local.sin_port)));
        }
        close(listener);
    }
    ~Connections() {
        for (const int fd : m_Fds) close(fd);
    }
};

void BM_CountersOfOpenSessions(benchmark::State& state) {
    static Connections connections;
    SocketTable table;
    std::string error;
    size_t found = 0;
    for (auto _ : state) {
        if (!table.Read(error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        found = 0;
        for (const MonNetAddress& local : connections.m_Locals)
            found += table.FindLocal(local) != nullptr;
    }
    state.counters["sessions"] = static_cast<double>(connections.m_Locals.size());
    state.counters["found"] = static_cast<double>(found);
    state.counters["sockets"] = static_cast<double>(table.Size());
}
BENCHMARK(BM_CountersOfOpenSessions)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
