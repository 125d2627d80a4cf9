#pragma once
// What every session and the servers share for the life of the process.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "Asio.h"
#include "BlockList.h"
#include "ClientLimits.h"
#include "DestinationPolicy.h"
#include "FairPool.h"
#include "HandshakeBudget.h"
#include "LoginThrottle.h"
#include "LookupPool.h"
#include "MonitorContext.h"
#include "MonitorHub.h"
#include "OwnConnections.h"
#include "ProxyMetrics.h"
#include "ProxySettings.h"
#include "RefusalLog.h"
#include "ServerLog.h"
#include "SessionRegistry.h"

struct ProxyContext {
    ProxyContext(std::shared_ptr<const ProxySettings> settings, MonitorHub& hub, ServerLog& log,
                 FairPool& passwords, LookupPool& lookups)
        : m_Hub(hub),
          m_Log(log),
          m_Refusals(log),
          m_Monitor(hub, log, m_Refusals, MonitorSettingsOf(*settings)),
          m_Passwords(passwords),
          m_Lookups(lookups),
          m_Settings(std::move(settings)) {
        m_Monitor.m_OnRefused = [this](MonitorRefusal reason) { m_Metrics.MonitorRefused(reason); };
    }

    std::shared_ptr<const ProxySettings> Settings() const {
        std::lock_guard lock(m_SettingsMutex);
        return m_Settings;
    }
    void SetSettings(std::shared_ptr<const ProxySettings> settings) {
        m_Log.SetQuiet(settings->m_Options.m_bQuiet);
        m_Log.SetFormat(settings->m_Options.m_LogFormat);
        m_Monitor.SetSettings(MonitorSettingsOf(*settings));
        std::lock_guard lock(m_SettingsMutex);
        m_Settings = std::move(settings);
    }

    MonitorHub& m_Hub;
    ServerLog& m_Log;
    RefusalLog m_Refusals;
    MonitorContext m_Monitor;  // the monitor's listener and clients
    FairPool& m_Passwords;  // password checks only
    LookupPool& m_Lookups;  // host lookups only
    DestinationPolicy m_Policy;
    OwnConnections m_Own;  // its connections to destinations
    ClientLimits m_Limits;
    HandshakeBudget m_Handshakes;
    LoginThrottle m_Throttle;
    SessionRegistry m_Sessions;
    BlockList m_Blocks;  // set by monitor clients
    ProxyMetrics m_Metrics;
    std::atomic<uint32_t> m_NextId{1};
    std::atomic<size_t> m_Active{0};
    std::atomic<size_t> m_Established{0};  // those past their request

private:
    mutable std::mutex m_SettingsMutex;
    std::shared_ptr<const ProxySettings> m_Settings;
};

// A client turned away before it made a request: an open record (with the
// user name it offered, if any), a result with its own code and text, and a close.
void ReportRefusal(ProxyContext& context, const tcp::endpoint& client, uint8_t method,
                   const std::string& user, uint32_t code, const std::string& text);
