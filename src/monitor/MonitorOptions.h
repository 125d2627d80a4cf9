#pragma once
// The settings of vgl-monitor, from its command line (systemd passes the
// options of /etc/default/vgl-monitor).

#include <cstdint>
#include <string>
#include <vector>

#include "ServerLog.h"
#include "core/base/Cidr.h"

struct MonitorOptions {
    std::string m_DanteLog;      // the log file Dante writes (logoutput:), or
    std::string m_DanteJournal;  // the systemd unit whose journal has Dante's lines
    std::string m_MonitorHost = "127.0.0.1";
    std::vector<Cidr> m_MonitorAllow;  // empty: loopback only
    size_t m_MaxMonitorClients = 16;
    size_t m_MaxMonitorPerClient = 4;
    std::string m_MonitorTlsCert;  // empty: plain TCP
    std::string m_MonitorTlsKey;
    std::string m_MonitorClients;
    std::string m_MonitorTlsGenerate;  // a folder: make an identity there and exit
    std::string m_MetricsHost;         // empty: no metrics
    uint16_t m_MetricsPort = 0;
    std::vector<Cidr> m_MetricsAllow;
    size_t m_MaxMetricsClients = 8;
    unsigned m_HandshakeTimeout = 10;  // seconds
    bool m_bQuiet = false;
    LogFormat m_LogFormat = LogFormat::Text;
    bool m_bHelp = false;
    bool m_bVersion = false;
};

// False with a message when an option is unknown, lacks its value or has a
// bad one, or when neither or both of --dante-log and --dante-journal are given.
bool ParseMonitorOptions(const std::vector<std::string>& args, MonitorOptions& options,
                         std::string& error);
const char* MonitorUsage();
std::string MonitorHelp();
