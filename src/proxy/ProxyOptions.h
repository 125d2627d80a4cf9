#pragma once
// The settings of vgl-proxy: from its configuration file (--config, TOML)
// and its command line, which adds to the file and wins over it.

#include <cstdint>
#include <string>
#include <vector>

#include "DestRule.h"
#include "OptionText.h"
#include "ServerLog.h"
#include "core/base/Cidr.h"

struct ProxyOptions {
    std::string m_ConfigPath;
    std::string m_ListenHost = "127.0.0.1";
    uint16_t m_ListenPort = 1080;
    std::vector<Cidr> m_Allow;  // empty: loopback only
    std::string m_UsersPath;
    std::string m_MonitorHost = "127.0.0.1";
    std::vector<Cidr> m_MonitorAllow;
    size_t m_MaxMonitorClients = 16;
    size_t m_MaxMonitorPerClient = 4;  // from one address (an IPv6 one: its /64)
    std::string m_MonitorTlsCert;      // empty: the monitor speaks plain TCP
    std::string m_MonitorTlsKey;
    std::string m_MonitorClients;      // fingerprints allowed over TLS
    std::string m_MonitorTlsGenerate;  // a folder: make an identity there and exit
    std::string m_MetricsHost;         // empty: no metrics
    uint16_t m_MetricsPort = 0;
    std::vector<Cidr> m_MetricsAllow;
    size_t m_MaxMetricsClients = 8;
    std::vector<std::string> m_MetricsUsers;  // empty: the first users seen
    std::vector<DestRule> m_Rules;
    std::string m_BlocksPath;  // where monitor clients' blocks are kept; empty: in memory
    size_t m_MaxConnections = 1000;
    size_t m_MaxPerClient = 64;
    size_t m_MaxHandshakesPerClient = 8;
    size_t m_MaxHandshakes = 256;      // of all clients together, beside m_MaxConnections
    unsigned m_IdleTimeout = 600;      // seconds
    unsigned m_ConnectTimeout = 15;    // seconds
    unsigned m_HandshakeTimeout = 10;  // seconds
    unsigned m_Threads = 0;            // 0: one per core
    bool m_bQuiet = false;
    LogFormat m_LogFormat = LogFormat::Text;
    bool m_bHelp = false;
    bool m_bVersion = false;
};

// False with a message when an option is unknown, lacks its value or has a
// bad one, or when the configuration file named by --config does not load.
bool ParseProxyOptions(int argc, char** argv, ProxyOptions& options, std::string& error);
bool ParseProxyOptions(const std::vector<std::string>& args, ProxyOptions& options,
                       std::string& error);
const char* ProxyUsage();
// The usage, then each option with what it does and its default (--help).
std::string ProxyHelp();

// One option as the command line gives it ("--allow", "10.0.0.0/8"); the
// value is empty for a flag. Used for the command line and the file alike.
bool ApplyProxyOption(const std::string& option, const std::string& value, ProxyOptions& options,
                      std::string& error);
bool ProxyOptionTakesValue(const std::string& option);
// True for the options that may be given more than once (--allow, --block, ...).
bool ProxyOptionRepeats(const std::string& option);
