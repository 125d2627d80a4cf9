#pragma once
// What every session and the servers share for the life of the process.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "Asio.h"
#include "ClientLimits.h"
#include "DestinationPolicy.h"
#include "HandshakeBudget.h"
#include "FairPool.h"
#include "LoginThrottle.h"
#include "LookupPool.h"
#include "MonitorHub.h"
#include "OwnConnections.h"
#include "ProxyLog.h"
#include "ProxyMetrics.h"
#include "ProxySettings.h"
#include "RefusalLog.h"
#include "SessionRegistry.h"

struct ProxyContext {
    ProxyContext(std::shared_ptr<const ProxySettings> settings, MonitorHub& hub, ProxyLog& log,
                 FairPool& passwords, LookupPool& lookups)
        : m_Hub(hub),
          m_Log(log),
          m_Refusals(log),
          m_Passwords(passwords),
          m_Lookups(lookups),
          m_Settings(std::move(settings)) {}

    std::shared_ptr<const ProxySettings> Settings() const {
        std::lock_guard lock(m_SettingsMutex);
        return m_Settings;
    }
    void SetSettings(std::shared_ptr<const ProxySettings> settings) {
        m_Log.SetQuiet(settings->m_Options.m_bQuiet);
        m_Log.SetFormat(settings->m_Options.m_LogFormat);
        std::lock_guard lock(m_SettingsMutex);
        m_Settings = std::move(settings);
    }

    MonitorHub& m_Hub;
    ProxyLog& m_Log;
    RefusalLog m_Refusals;
    FairPool& m_Passwords;  // password checks only
    LookupPool& m_Lookups;  // host lookups only
    DestinationPolicy m_Policy;
    OwnConnections m_Own;  // its connections to destinations
    ClientLimits m_Limits;
    ClientLimits m_MonitorLimits;  // each monitor client counts as connection and handshake
    HandshakeBudget m_Handshakes;
    LoginThrottle m_Throttle;
    SessionRegistry m_Sessions;
    ProxyMetrics m_Metrics;
    std::atomic<uint32_t> m_NextId{1};
    std::atomic<size_t> m_Active{0};
    std::atomic<size_t> m_Established{0};  // those past their request
    std::atomic<size_t> m_MonitorClients{0};
    std::atomic<size_t> m_MetricsClients{0};

private:
    mutable std::mutex m_SettingsMutex;
    std::shared_ptr<const ProxySettings> m_Settings;
};

// A client turned away before it made a request: an open record (with the
// user name it offered, if any), a result with its own code and text, and a close.
void ReportRefusal(ProxyContext& context, const tcp::endpoint& client, uint8_t method,
                   const std::string& user, uint32_t code, const std::string& text);
