#pragma once
// What a reload replaces: the options, the users file and the monitor's TLS. A session takes
// the settings current at its start and keeps them to its end, so a reload
// never changes the rules of a connection halfway.

#include <memory>

#include "MonitorContext.h"
#include "MonitorTls.h"
#include "ProxyOptions.h"
#include "UserFile.h"

struct ProxySettings {
    ProxyOptions m_Options;
    std::shared_ptr<const UserFile> m_pUsers;         // null: no password is asked
    std::shared_ptr<const MonitorTls> m_pMonitorTls;  // null: the monitor speaks plain TCP
};

// What the monitor's listener and clients take of the settings.
std::shared_ptr<const MonitorSettings> MonitorSettingsOf(const ProxySettings& settings);
