// vgl-monitor: a monitor for VGL beside a Dante SOCKS5 server. It learns the
// sessions from Dante's log lines and their live bytes from the kernel, and
// serves them on port 5051 as vgl-proxy serves its own.

#include <csignal>
#include <ctime>
#include <iostream>
#include <optional>

#include "CheckCommand.h"
#include "DanteControl.h"
#include "DanteMonitor.h"
#include "MetricsServer.h"
#include "MonitorIdentityFiles.h"
#include "MonitorOptions.h"
#include "MonitorServer.h"

namespace {

int Fail(const std::string& message) {
    std::cerr << "vgl-monitor: " << message << "\n";
    return 1;
}

// Where the listener and the clients take their rules; false with a message
// when the TLS files do not load.
bool LoadMonitorSettings(const MonitorOptions& options, MonitorSettings& settings,
                         std::string& error) {
    settings.m_Allow = options.m_MonitorAllow;
    settings.m_MaxClients = options.m_MaxMonitorClients;
    settings.m_MaxPerClient = options.m_MaxMonitorPerClient;
    settings.m_HandshakeTimeout = std::chrono::seconds(options.m_HandshakeTimeout);
    if (options.m_MonitorTlsCert.empty()) return true;
    auto tls = std::make_shared<MonitorTls>();
    if (!tls->Load(options.m_MonitorTlsCert, options.m_MonitorTlsKey, options.m_MonitorClients,
                   error)) {
        return false;
    }
    settings.m_pTls = std::move(tls);
    return true;
}

// SIGHUP: the TLS files again (a new clients file, a renewed certificate);
// a file that does not load changes nothing.
void WatchReload(asio::signal_set& signals, MonitorContext& context,
                 const MonitorOptions& options) {
    signals.async_wait([&signals, &context, &options](const std::error_code& error, int) {
        if (error) return;
        auto settings = std::make_shared<MonitorSettings>();
        std::string failure;
        if (LoadMonitorSettings(options, *settings, failure)) {
            context.SetSettings(std::move(settings));
            context.m_Log.Notice("configuration reloaded");
        } else {
            context.m_Log.Warning("reload failed, the previous configuration stays: " + failure);
        }
        WatchReload(signals, context, options);
    });
}

// Dante's new lines as they come, and the refused monitor clients' counts once a minute.
void Tick(asio::steady_timer& timer, DanteMonitor& dante, RefusalLog& refusals,
          Clock::time_point flushed) {
    timer.expires_after(DanteMonitor::PumpPeriod);
    timer.async_wait([&timer, &dante, &refusals, flushed](const std::error_code& error) {
        if (error) return;
        dante.Pump();
        Clock::time_point next = flushed;
        if (Clock::now() - flushed >= std::chrono::minutes(1)) {
            refusals.Flush();
            next = Clock::now();
        }
        Tick(timer, dante, refusals, next);
    });
}

std::string TlsNote(const MonitorSettings& settings) {
    if (!settings.m_pTls) return {};
    const MonTlsServer& tls = settings.m_pTls->Server();
    return " (TLS " + tls.Fingerprint() + ", " + std::to_string(tls.ClientCount()) +
           " clients listed)";
}

int Serve(const MonitorOptions& options, std::shared_ptr<const MonitorSettings> settings) {
    ServerLog log("vgl-monitor", options.m_bQuiet, options.m_LogFormat);
    RefusalLog refusals(log);
    // Ids start from the start time, so a restarted monitor never reuses a
    // connection id that a watching VGL still holds.
    const auto idHigh = static_cast<uint32_t>(std::time(nullptr));
    MonitorHub hub(idHigh);
    MonitorContext context(hub, log, refusals, std::move(settings));
    DanteMonitor dante(hub, log, MakeDanteSource(options));
    DanteControl control(dante, idHigh);
    std::atomic<uint64_t> refusedKeys{0}, refusedHandshakes{0};
    context.m_OnRefused = [&](MonitorRefusal reason) {
        (reason == MonitorRefusal::ClientKey ? refusedKeys : refusedHandshakes).fetch_add(1);
    };
    context.m_BeforeBatch = [&dante] { dante.BeforeBatch(); };
    context.m_pControl = &control;

    // Two threads: one for the lines and the kernel's counters, one more for
    // the clients' TLS; a monitor serves a few clients.
    IoPool pool(2);
    MonitorServer monitor(pool, context);
    std::string error;
    if (!monitor.Listen(options.m_MonitorHost, error)) {
        log.Failure(error);
        return 1;
    }
    std::optional<MetricsServer> metrics;
    if (!options.m_MetricsHost.empty()) {
        metrics.emplace(
            pool, log, refusals,
            [&options] {
                return MetricsServer::Limits{options.m_MetricsAllow, options.m_MaxMetricsClients};
            },
            [&] {
                return dante.MetricsText(context.m_Clients.load(), refusedKeys.load(),
                                         refusedHandshakes.load());
            });
        if (!metrics->Listen(options.m_MetricsHost, options.m_MetricsPort, error)) {
            log.Failure(error);
            return 1;
        }
    }
    dante.Start();
    asio::steady_timer ticks(pool.Main());
    Tick(ticks, dante, refusals, Clock::now());
    asio::signal_set stopSignals(pool.Main(), SIGINT, SIGTERM);
    stopSignals.async_wait([&pool](const std::error_code& failure, int) {
        if (!failure) pool.Stop();
    });
    asio::signal_set reloadSignals(pool.Main(), SIGHUP);
    WatchReload(reloadSignals, context, options);
    monitor.Start();
    if (metrics) metrics->Start();
    log.Notice("following " + dante.SourceName() + ", monitor on " + monitor.Where() +
               TlsNote(*context.Settings()) +
               (metrics ? ", metrics on " + metrics->Where() : std::string()));
    pool.Run();
    refusals.Flush();
    log.Notice("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--check") return RunCheck(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    MonitorOptions options;
    std::string error;
    if (!ParseMonitorOptions(args, options, error)) {
        std::cerr << "vgl-monitor: " << error << "\n" << MonitorUsage();
        return 1;
    }
    if (options.m_bHelp) {
        std::cout << MonitorHelp();
        return 0;
    }
    if (options.m_bVersion) {
        std::cout << "vgl-monitor " VGL_VERSION "\n";
        return 0;
    }
    if (!options.m_MonitorTlsGenerate.empty())
        return GenerateMonitorIdentity(options.m_MonitorTlsGenerate, "vgl-monitor");
    auto settings = std::make_shared<MonitorSettings>();
    if (!LoadMonitorSettings(options, *settings, error)) return Fail(error);
    std::signal(SIGPIPE, SIG_IGN);
    return Serve(options, std::move(settings));
}
