// vgl-proxy: a SOCKS5 server that reports its own connections to VGL through
// a monitor on port 5051.

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <iostream>
#include <optional>
#include <thread>

#include "MetricsServer.h"
#include "MonitorServer.h"
#include "ProxyServer.h"
#include "ProxyStopper.h"

namespace {

// Every relaying connection takes up to six descriptors (two sockets, two
// splice pipes); the usual soft limit of 1024 would cap the proxy near 170 of them.
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

// The options and the users file they name; false with a message when either does not load.
bool LoadSettings(const std::vector<std::string>& args, ProxySettings& settings,
                  std::string& error) {
    if (!ParseProxyOptions(args, settings.m_Options, error)) return false;
    if (settings.m_Options.m_UsersPath.empty()) return true;
    auto users = std::make_shared<UserFile>();
    if (!users->Load(settings.m_Options.m_UsersPath, error)) return false;
    settings.m_pUsers = std::move(users);
    return true;
}

void LogUserNotes(const ProxySettings& settings, const ProxyLog& log) {
    if (!settings.m_pUsers) return;
    for (const std::string& note : settings.m_pUsers->Notes()) log.Warning(note);
}

// What a reload cannot change, because the sockets and threads exist already.
std::string NeedsRestart(const ProxyOptions& running, const ProxyOptions& loaded) {
    std::string changed;
    if (running.m_ListenHost != loaded.m_ListenHost || running.m_ListenPort != loaded.m_ListenPort)
        changed += " listen";
    if (running.m_MonitorHost != loaded.m_MonitorHost) changed += " monitor";
    if (running.m_MetricsHost != loaded.m_MetricsHost ||
        running.m_MetricsPort != loaded.m_MetricsPort)
        changed += " metrics";
    if (running.m_Threads != loaded.m_Threads) changed += " threads";
    return changed;
}

// SIGHUP: the configuration and the users file again. Open connections keep
// the settings they started with; a file that does not load changes nothing.
void Reload(ProxyContext& context, const std::vector<std::string>& args) {
    auto settings = std::make_shared<ProxySettings>();
    std::string error;
    if (!LoadSettings(args, *settings, error)) {
        context.m_Log.Warning("reload failed, the previous configuration stays: " + error);
        return;
    }
    const std::string restart = NeedsRestart(context.Settings()->m_Options, settings->m_Options);
    context.m_Policy.RefreshLocalAddresses();
    LogUserNotes(*settings, context.m_Log);
    context.SetSettings(std::move(settings));
    context.m_Log.Notice("configuration reloaded" +
                         (restart.empty() ? "" : "; a restart is needed for:" + restart));
}

// The reload runs on a thread of its own, one after another: reading and
// checking a users file of thousands must not hold up the I/O threads, whose
// clients keep the settings they have until the new ones are ready.
void WatchReload(asio::signal_set& signals, FairPool& reloads, ProxyContext& context,
                 const std::vector<std::string>& args) {
    signals.async_wait([&signals, &reloads, &context, &args](const std::error_code& error, int) {
        if (error) return;
        reloads.Post({}, [&context, &args] { Reload(context, args); });
        WatchReload(signals, reloads, context, args);
    });
}

// Listens, serves until SIGINT or SIGTERM and stops; the exit status.
int Serve(ProxyContext& context, const std::vector<std::string>& args, unsigned threads) {
    const std::shared_ptr<const ProxySettings> settings = context.Settings();
    const ProxyOptions& options = settings->m_Options;
    const ProxyLog& log = context.m_Log;
    std::string error;
    IoPool pool(threads);
    ProxyServer proxy(pool, context);
    MonitorServer monitor(pool, context);
    if (!proxy.Listen(options.m_ListenHost, options.m_ListenPort, error) ||
        !monitor.Listen(options.m_MonitorHost, error)) {
        return Fail(error);
    }
    context.m_Policy.AddOwnListener(proxy.Endpoint());
    context.m_Policy.AddOwnListener(monitor.Endpoint());
    std::optional<MetricsServer> metrics;
    if (!options.m_MetricsHost.empty()) {
        metrics.emplace(pool, context);
        if (!metrics->Listen(options.m_MetricsHost, options.m_MetricsPort, error))
            return Fail(error);
        context.m_Policy.AddOwnListener(metrics->Endpoint());
    }

    ProxyStopper stopper(pool, context, [&proxy] { proxy.StopAccepting(); });
    asio::signal_set stopSignals(pool.Main(), SIGINT, SIGTERM);
    stopSignals.async_wait([&](const std::error_code& failure, int) {
        if (!failure) stopper.Stop();
    });
    FairPool reloads(1, 1);
    asio::signal_set reloadSignals(pool.Main(), SIGHUP);
    WatchReload(reloadSignals, reloads, context, args);
    proxy.Start();
    monitor.Start();
    if (metrics) metrics->Start();
    log.Notice("listening on " + proxy.Where() + " (" +
               (settings->m_pUsers ? "user name and password" : "no authentication") +
               "), monitor on " + monitor.Where() +
               (metrics ? ", metrics on " + metrics->Where() : std::string()));
    pool.Run();
    log.Notice("stopped");
    // Lookups and checks already running finish on their own; the process
    // does not wait for a slow name server longer than a second.
    const std::chrono::seconds limit(1);
    if (!context.m_Passwords.Stop(limit) || !context.m_Lookups.Stop(limit) || !reloads.Stop(limit))
        _exit(0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    ProxyOptions given;
    if (!ParseProxyOptions(args, given, error)) {
        std::cerr << "vgl-proxy: " << error << "\n" << ProxyUsage();
        return 1;
    }
    if (given.m_bHelp) {
        std::cout << ProxyUsage();
        return 0;
    }
    if (given.m_bVersion) {
        std::cout << "vgl-proxy " VGL_VERSION "\n";
        return 0;
    }
    auto settings = std::make_shared<ProxySettings>();
    if (!LoadSettings(args, *settings, error)) return Fail(error);
    const ProxyOptions& options = settings->m_Options;
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();

    const unsigned threads =
        options.m_Threads ? options.m_Threads : std::max(1u, std::thread::hardware_concurrency());
    ProxyLog log(options.m_bQuiet);
    LogUserNotes(*settings, log);
    // Ids start from the start time, so a restarted proxy never reuses a
    // connection id that a watching VGL still holds.
    MonitorHub hub(static_cast<uint32_t>(std::time(nullptr)));
    // Password checks and lookups each have threads of their own: a name
    // server that never answers must not hold up a login. Both are shared
    // fairly per client; two checks of one client run at once.
    FairPool passwords(4, 2);
    LookupPool lookups(32);
    ProxyContext context(settings, hub, log, passwords, lookups);
    return Serve(context, args, threads);
}
