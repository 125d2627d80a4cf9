// vgl-proxy: a SOCKS5 server that reports its own connections to VGL through
// a monitor on port 5051.

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <future>
#include <iostream>
#include <optional>
#include <thread>

#include "MonitorServer.h"
#include "ProxyServer.h"

namespace {

// Every proxied connection takes two descriptors; the usual soft limit of
// 1024 would cap the proxy near 500 of them.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int Fail(const std::string& message) {
    std::cerr << "vgl-proxy: " << message << "\n";
    return 1;
}

// Lookups already running finish on their own; the process does not wait for
// a slow name server longer than a second.
void StopBlockingPool(asio::thread_pool& pool) {
    pool.stop();
    auto joined = std::async(std::launch::async, [&pool] { pool.join(); });
    if (joined.wait_for(std::chrono::seconds(1)) != std::future_status::ready) _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    ProxyOptions options;
    std::string error;
    if (!ParseProxyOptions(argc, argv, options, error)) {
        std::cerr << "vgl-proxy: " << error << "\n" << ProxyUsage();
        return 1;
    }
    if (options.m_bHelp) {
        std::cout << ProxyUsage();
        return 0;
    }
    std::optional<UserFile> users;
    if (!options.m_UsersPath.empty()) {
        users.emplace();
        if (!users->Load(options.m_UsersPath, error)) return Fail(error);
    }
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();

    const unsigned threads =
        options.m_Threads ? options.m_Threads : std::max(1u, std::thread::hardware_concurrency());
    const ProxyLog log(options.m_bQuiet);
    // Ids start from the start time, so a restarted proxy never reuses a
    // connection id that a watching VGL still holds.
    MonitorHub hub(static_cast<uint32_t>(std::time(nullptr)));
    asio::thread_pool blocking(8);
    ProxyContext context{options, users ? &*users : nullptr, hub, log, blocking};
    {
        IoPool pool(threads);
        ProxyServer proxy(pool, context);
        MonitorServer monitor(pool, context);
        if (!proxy.Listen(options.m_ListenHost, options.m_ListenPort, error) ||
            !monitor.Listen(options.m_MonitorHost, error)) {
            return Fail(error);
        }
        asio::signal_set signals(pool.Main(), SIGINT, SIGTERM);
        signals.async_wait([&](const std::error_code&, int) {
            log.Notice("stopping");
            pool.Stop();
        });
        proxy.Start();
        monitor.Start();
        log.Notice("listening on " + proxy.Where() + " (" +
                   (users ? "user name and password" : "no authentication") + "), monitor on " +
                   monitor.Where());
        pool.Run();
        StopBlockingPool(blocking);
    }
    return 0;
}
