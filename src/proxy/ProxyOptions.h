#pragma once
// The command line of vgl-proxy.

#include <cstdint>
#include <string>
#include <vector>

#include "Cidr.h"

struct ProxyOptions {
    std::string m_ListenHost = "127.0.0.1";
    uint16_t m_ListenPort = 1080;
    std::vector<Cidr> m_Allow;  // empty: loopback only
    std::string m_UsersPath;
    std::string m_MonitorHost = "127.0.0.1";
    std::vector<Cidr> m_MonitorAllow;
    size_t m_MaxConnections = 1000;
    unsigned m_IdleTimeout = 600;    // seconds
    unsigned m_ConnectTimeout = 15;  // seconds
    unsigned m_Threads = 0;          // 0: one per core
    bool m_bQuiet = false;
    bool m_bHelp = false;
};

// False with a message when an option is unknown, lacks its value or has a bad one.
bool ParseProxyOptions(int argc, char** argv, ProxyOptions& options, std::string& error);
const char* ProxyUsage();
// The blocks a list falls back to when none is given: 127.0.0.0/8 and ::1.
std::vector<Cidr> LoopbackOnly();
