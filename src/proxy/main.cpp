// vgl-proxy: a SOCKS5 server that reports its own connections to VGL through
// a monitor on port 5051.

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>

#include "AddressWatcher.h"
#include "MetricsServer.h"
#include "MonitorIdentityFiles.h"
#include "MonitorServer.h"
#include "ProxyControl.h"
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

// Once the log knows its format, a start that fails says so in that format.
int Fail(const std::string& message, const ServerLog& log) {
    log.Failure(message);
    return 1;
}

// The options and the users file they name; false with a message when either does not load.
bool LoadSettings(const std::vector<std::string>& args, ProxySettings& settings,
                  std::string& error) {
    if (!ParseProxyOptions(args, settings.m_Options, error)) return false;
    if (!settings.m_Options.m_MonitorTlsCert.empty()) {
        auto tls = std::make_shared<MonitorTls>();
        const ProxyOptions& options = settings.m_Options;
        if (!tls->Load(options.m_MonitorTlsCert, options.m_MonitorTlsKey, options.m_MonitorClients,
                       error)) {
            return false;
        }
        settings.m_pMonitorTls = std::move(tls);
    }
    if (settings.m_Options.m_UsersPath.empty()) return true;
    auto users = std::make_shared<UserFile>();
    if (!users->Load(settings.m_Options.m_UsersPath, error)) return false;
    settings.m_pUsers = std::move(users);
    return true;
}

// What deserves a word at each load: locked users, rules that open this machine.
void LogLoadNotes(const ProxySettings& settings, const ServerLog& log) {
    for (const std::string& warning : PrivatePassWarnings(settings.m_Options.m_Rules))
        log.Warning(warning);
    if (!settings.m_pUsers) return;
    for (const std::string& note : settings.m_pUsers->Notes()) log.Warning(note);
}

// systemd copies a credential (LoadCredential=) once, at the start: a reload
// reads that copy again, never the file it came from.
bool IsCredential(const std::string& path) {
    const char* folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (!folder || !*folder || path.empty()) return false;
    std::error_code ignored;
    const auto parent = std::filesystem::weakly_canonical(path, ignored).parent_path();
    return parent == std::filesystem::weakly_canonical(folder, ignored);
}

// What a reload cannot change, because the sockets and threads exist already:
// `running` is what the process started with, whatever reloads came between.
std::string NeedsRestart(const ProxyOptions& running, const ProxyOptions& loaded) {
    std::string changed;
    if (running.m_ListenHost != loaded.m_ListenHost || running.m_ListenPort != loaded.m_ListenPort)
        changed += " listen";
    if (running.m_MonitorHost != loaded.m_MonitorHost) changed += " monitor";
    if (running.m_MetricsHost != loaded.m_MetricsHost ||
        running.m_MetricsPort != loaded.m_MetricsPort)
        changed += " metrics";
    if (running.m_Threads != loaded.m_Threads) changed += " threads";
    if (running.m_BlocksPath != loaded.m_BlocksPath) changed += " blocks-file";
    if (IsCredential(loaded.m_UsersPath)) changed += " users (a systemd credential)";
    for (const std::string* path :
         {&loaded.m_MonitorTlsCert, &loaded.m_MonitorTlsKey, &loaded.m_MonitorClients}) {
        if (IsCredential(*path)) changed += " " + *path + " (a systemd credential)";
    }
    return changed;
}

// SIGHUP: the configuration and the users file again. Open connections keep
// the settings they started with; a file that does not load changes nothing.
void Reload(ProxyContext& context, const std::vector<std::string>& args,
            const ProxyOptions& started) {
    auto settings = std::make_shared<ProxySettings>();
    std::string error;
    if (!LoadSettings(args, *settings, error)) {
        context.m_Log.Warning("reload failed, the previous configuration stays: " + error);
        return;
    }
    const std::string restart = NeedsRestart(started, settings->m_Options);
    context.m_Policy.RefreshLocalAddresses();
    LogLoadNotes(*settings, context.m_Log);
    context.SetSettings(std::move(settings));
    context.m_Log.Notice("configuration reloaded" +
                         (restart.empty() ? "" : "; a restart is needed for:" + restart));
}

// The reload runs on a thread of its own, one after another: reading and
// checking a users file of thousands must not hold up the I/O threads, whose
// clients keep the settings they have until the new ones are ready.
void WatchReload(asio::signal_set& signals, FairPool& reloads, ProxyContext& context,
                 const std::vector<std::string>& args, const ProxyOptions& started) {
    signals.async_wait(
        [&signals, &reloads, &context, &args, &started](const std::error_code& error, int) {
            if (error) return;
            reloads.Post({}, [&context, &args, &started] { Reload(context, args, started); });
            WatchReload(signals, reloads, context, args, started);
        });
}

// The counts of refused clients, once a minute.
void FlushRefusals(asio::steady_timer& timer, ProxyContext& context) {
    timer.expires_after(std::chrono::minutes(1));
    timer.async_wait([&timer, &context](const std::error_code& error) {
        if (error) return;
        context.m_Refusals.Flush();
        FlushRefusals(timer, context);
    });
}

// Follows this machine's addresses, so that its own listeners are known
// through an address it gained after the start too.
void WatchAddresses(AddressWatcher& watcher, ProxyContext& context) {
    const bool watching = watcher.Start();
    if (!watching) {
        context.m_Log.Warning(
            "cannot follow this machine's address changes; they are read again on a reload");
    }
}

std::string MonitorTlsNote(const ProxySettings& settings) {
    if (!settings.m_pMonitorTls) return {};
    const MonTlsServer& tls = settings.m_pMonitorTls->Server();
    return " (TLS " + tls.Fingerprint() + ", " + std::to_string(tls.ClientCount()) +
           " clients listed)";
}

// Listens, serves until SIGINT or SIGTERM, and stops; 1 when an address cannot be bound.
int Serve(ProxyContext& context, const std::vector<std::string>& args, const ProxyOptions& options,
          unsigned threads) {
    std::string error;
    ServerLog& log = context.m_Log;
    IoPool pool(threads);
    ProxyServer proxy(pool, context);
    MonitorServer monitor(pool, context.m_Monitor);
    if (!proxy.Listen(options.m_ListenHost, options.m_ListenPort, error) ||
        !monitor.Listen(options.m_MonitorHost, error)) {
        return Fail(error, log);
    }
    context.m_Policy.AddOwnListener(proxy.Endpoint());
    context.m_Policy.AddOwnListener(monitor.Endpoint());
    std::optional<MetricsServer> metrics;
    if (!options.m_MetricsHost.empty()) {
        metrics.emplace(
            pool, context.m_Log, context.m_Refusals,
            [&context] {
                const ProxyOptions& now = context.Settings()->m_Options;
                return MetricsServer::Limits{now.m_MetricsAllow, now.m_MaxMetricsClients};
            },
            [&context] {
                return context.m_Metrics.Text(
                    context.m_Active.load(), context.m_Monitor.m_Clients.load(),
                    context.m_Blocks.CountInForce(static_cast<uint64_t>(std::time(nullptr))));
            });
        if (!metrics->Listen(options.m_MetricsHost, options.m_MetricsPort, error))
            return Fail(error, log);
        context.m_Policy.AddOwnListener(metrics->Endpoint());
    }
    AddressWatcher addresses(pool.Main(), [&context] {
        const std::string changed = context.m_Policy.RefreshLocalAddresses();
        if (!changed.empty()) context.m_Log.Notice("this machine's addresses changed: " + changed);
    });
    WatchAddresses(addresses, context);
    asio::steady_timer refusals(pool.Main());
    FlushRefusals(refusals, context);

    ProxyStopper stopper(pool, context, [&proxy] { proxy.StopAccepting(); });
    asio::signal_set stopSignals(pool.Main(), SIGINT, SIGTERM);
    stopSignals.async_wait([&](const std::error_code& failure, int) {
        if (!failure) stopper.Stop();
    });
    FairPool reloads(1, 1);
    asio::signal_set reloadSignals(pool.Main(), SIGHUP);
    WatchReload(reloadSignals, reloads, context, args, options);
    proxy.Start();
    monitor.Start();
    if (metrics) metrics->Start();
    log.Notice("listening on " + proxy.Where() + " (" +
               (context.Settings()->m_pUsers ? "user name and password" : "no authentication") +
               "), monitor on " + monitor.Where() + MonitorTlsNote(*context.Settings()) +
               (metrics ? ", metrics on " + metrics->Where() : std::string()));
    pool.Run();
    context.m_Refusals.Flush();
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
        std::cout << ProxyHelp();
        return 0;
    }
    if (given.m_bVersion) {
        std::cout << "vgl-proxy " VGL_VERSION "\n";
        return 0;
    }
    if (!given.m_MonitorTlsGenerate.empty()) return GenerateMonitorIdentity(given.m_MonitorTlsGenerate, "vgl-proxy");
    auto settings = std::make_shared<ProxySettings>();
    if (!LoadSettings(args, *settings, error)) return Fail(error);
    const ProxyOptions& options = settings->m_Options;
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();

    const unsigned threads =
        options.m_Threads ? options.m_Threads : std::max(1u, std::thread::hardware_concurrency());
    ServerLog log("vgl-proxy", options.m_bQuiet, options.m_LogFormat);
    LogLoadNotes(*settings, log);
    // Ids start from the start time, so a restarted proxy never reuses a
    // connection id that a watching VGL still holds.
    const uint32_t idHigh = static_cast<uint32_t>(std::time(nullptr));
    MonitorHub hub(idHigh);
    // Password checks and lookups each have threads of their own: a name
    // server that never answers must not hold up a login. Both are shared
    // fairly per client; two checks of one client run at once.
    FairPool passwords(4, 2);
    LookupPool lookups(32);
    ProxyContext context(settings, hub, log, passwords, lookups);
    ProxyControl control(context, idHigh, options.m_BlocksPath);
    if (!control.Load(error)) return Fail(error, log);
    context.m_Monitor.m_pControl = &control;
    return Serve(context, args, options, threads);
}
