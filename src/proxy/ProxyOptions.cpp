#include "ProxyOptions.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace {

bool ParseNumber(std::string_view text, unsigned long min, unsigned long max,
                 unsigned long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() &&
           value >= min && value <= max;
}

bool IsAddress(const std::string& host) {
    uint8_t bytes[16];
    return inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

// "a.b.c.d:port" or "[v6]:port".
bool ParseHostPort(std::string_view text, std::string& host, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    std::string_view hostPart = text.substr(0, colon);
    if (hostPart.size() >= 2 && hostPart.front() == '[' && hostPart.back() == ']') {
        hostPart = hostPart.substr(1, hostPart.size() - 2);
    }
    unsigned long number = 0;
    if (!ParseNumber(text.substr(colon + 1), 0, 65535, number)) return false;
    host.assign(hostPart);
    port = static_cast<uint16_t>(number);
    return IsAddress(host);
}

bool TakesValue(std::string_view option) {
    for (const char* known :
         {"--listen", "--allow", "--users", "--monitor", "--monitor-allow", "--max-connections",
          "--idle-timeout", "--connect-timeout", "--threads"}) {
        if (option == known) return true;
    }
    return false;
}

}  // namespace

std::vector<Cidr> LoopbackOnly() {
    return {*Cidr::Parse("127.0.0.0/8"), *Cidr::Parse("::1")};
}

const char* ProxyUsage() {
    return "usage: vgl-proxy [--listen ADDR:PORT] [--allow CIDR]... [--users FILE]\n"
           "                 [--monitor ADDR] [--monitor-allow CIDR]... [--max-connections N]\n"
           "                 [--idle-timeout SECONDS] [--connect-timeout SECONDS]\n"
           "                 [--threads N] [--quiet]\n";
}

bool ParseProxyOptions(int argc, char** argv, ProxyOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--quiet") {
            options.m_bQuiet = true;
            continue;
        }
        if (option == "--help" || option == "-h") {
            options.m_bHelp = true;
            continue;
        }
        if (!TakesValue(option)) {
            error = "unknown option " + std::string(option);
            return false;
        }
        if (i + 1 >= argc) {
            error = "option " + std::string(option) + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        const std::string bad = "bad value for " + std::string(option) + ": \"" + value + "\"";
        unsigned long number = 0;
        if (option == "--listen") {
            if (!ParseHostPort(value, options.m_ListenHost, options.m_ListenPort)) {
                error = bad + " (expected ADDRESS:PORT, e.g. 127.0.0.1:1080 or [::1]:1080)";
                return false;
            }
        } else if (option == "--allow" || option == "--monitor-allow") {
            const auto block = Cidr::Parse(value);
            if (!block) {
                error = bad + " (expected an address block, e.g. 192.168.0.0/16)";
                return false;
            }
            (option == "--allow" ? options.m_Allow : options.m_MonitorAllow).push_back(*block);
        } else if (option == "--users") {
            options.m_UsersPath = value;
        } else if (option == "--monitor") {
            if (!IsAddress(value)) {
                error = bad + " (expected an address, e.g. 127.0.0.1)";
                return false;
            }
            options.m_MonitorHost = value;
        } else if (option == "--max-connections") {
            if (!ParseNumber(value, 1, 1000000, number)) {
                error = bad + " (expected 1 to 1000000)";
                return false;
            }
            options.m_MaxConnections = number;
        } else if (option == "--idle-timeout" || option == "--connect-timeout") {
            if (!ParseNumber(value, 1, 86400, number)) {
                error = bad + " (expected 1 to 86400 seconds)";
                return false;
            }
            (option == "--idle-timeout" ? options.m_IdleTimeout : options.m_ConnectTimeout) =
                static_cast<unsigned>(number);
        } else if (option == "--threads") {
            if (!ParseNumber(value, 1, 256, number)) {
                error = bad + " (expected 1 to 256)";
                return false;
            }
            options.m_Threads = static_cast<unsigned>(number);
        }
    }
    if (options.m_Allow.empty()) options.m_Allow = LoopbackOnly();
    if (options.m_MonitorAllow.empty()) options.m_MonitorAllow = LoopbackOnly();
    return true;
}
