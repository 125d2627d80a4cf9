#pragma once
// What the monitor's listener and its clients share with the program that
// serves them (vgl-proxy, vgl-monitor): the hub that holds the records, the
// log, the limits on clients, and the settings, which a reload replaces
// whole. A client keeps the settings it was admitted with.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ClientLimits.h"
#include "MonitorControl.h"
#include "MonitorHub.h"
#include "MonitorRefusal.h"
#include "MonitorTls.h"
#include "RefusalLog.h"
#include "ServerLog.h"
#include "core/base/Cidr.h"

struct MonitorSettings {
    std::vector<Cidr> m_Allow;  // --monitor-allow
    size_t m_MaxClients = 16;   // --max-monitor-clients
    size_t m_MaxPerClient = 4;  // --max-monitor-per-client
    std::chrono::seconds m_HandshakeTimeout{10};
    std::chrono::seconds m_IdleTimeout{600};  // at least 300 s between polls
    std::shared_ptr<const MonitorTls> m_pTls;  // null: plain TCP
};

class MonitorContext {
public:
    MonitorContext(MonitorHub& hub, const ServerLog& log, RefusalLog& refusals,
                   std::shared_ptr<const MonitorSettings> settings)
        : m_Hub(hub), m_Log(log), m_Refusals(refusals), m_Settings(std::move(settings)) {}

    std::shared_ptr<const MonitorSettings> Settings() const {
        std::lock_guard lock(m_SettingsMutex);
        return m_Settings;
    }
    void SetSettings(std::shared_ptr<const MonitorSettings> settings) {
        std::lock_guard lock(m_SettingsMutex);
        m_Settings = std::move(settings);
    }

    MonitorHub& m_Hub;
    const ServerLog& m_Log;
    RefusalLog& m_Refusals;
    ClientLimits m_Limits;  // each client counts as connection and handshake
    std::atomic<size_t> m_Clients{0};
    // Both set before the listener starts, and called from the clients' threads.
    // Counts a refusal in the program's metrics.
    std::function<void(MonitorRefusal)> m_OnRefused;
    // Brings the hub's records up to date just before a batch is taken (a
    // monitor that learns of traffic by asking, rather than being told).
    std::function<void()> m_BeforeBatch;
    // What clients marked in the clients file may do; null: nothing (each
    // control request is answered with a refusal).
    MonitorControl* m_pControl = nullptr;

private:
    mutable std::mutex m_SettingsMutex;
    std::shared_ptr<const MonitorSettings> m_Settings;
};
