#include "ProxyOptions.h"

#include <optional>
#include <string_view>

#include "OptionText.h"
#include "ProxyConfigFile.h"

namespace {

// A --block value: an address block, or else a name suffix.
DestRule BlockRule(const std::string& value) {
    DestRule rule;
    if (const auto block = Cidr::Parse(value)) {
        rule.m_To.push_back(*block);
    } else {
        rule.m_Names.push_back(value);
    }
    return rule;
}

bool ApplyCount(const std::string& option, const std::string& value, unsigned long max,
                size_t& target, std::string& error) {
    unsigned long number = 0;
    if (!ParseNumber(value, 1, max, number)) {
        error = "bad value for " + option + ": \"" + value + "\" (expected 1 to " +
                std::to_string(max) + ")";
        return false;
    }
    target = number;
    return true;
}

// The options that name addresses; nothing when `option` is not one of them.
std::optional<bool> ApplyAddress(const std::string& option, const std::string& value,
                                 ProxyOptions& options, std::string& error) {
    const std::string bad = "bad value for " + option + ": \"" + value + "\"";
    if (option == "--listen" || option == "--metrics") {
        std::string& host = option == "--listen" ? options.m_ListenHost : options.m_MetricsHost;
        uint16_t& port = option == "--listen" ? options.m_ListenPort : options.m_MetricsPort;
        // A port alone: loopback, so that nothing is offered to the network unasked.
        const bool portOnly = option == "--metrics" && value.find(':') == std::string::npos;
        if (!ParseHostPort(portOnly ? "127.0.0.1:" + value : value, host, port)) {
            error = bad + " (expected ADDRESS:PORT, e.g. 127.0.0.1:1080 or [::1]:1080)";
            return false;
        }
    } else if (option == "--allow" || option == "--monitor-allow" || option == "--metrics-allow") {
        const auto block = Cidr::Parse(value);
        if (!block) {
            error = bad + " (expected an address block, e.g. 192.168.0.0/16)";
            return false;
        }
        (option == "--allow"           ? options.m_Allow
         : option == "--monitor-allow" ? options.m_MonitorAllow
                                       : options.m_MetricsAllow)
            .push_back(*block);
    } else if (option == "--monitor") {
        if (!IsAddress(value)) {
            error = bad + " (expected an address, e.g. 127.0.0.1)";
            return false;
        }
        options.m_MonitorHost = value;
    } else {
        return std::nullopt;
    }
    return true;
}

// The options that take a number; nothing when `option` is not one of them.
std::optional<bool> ApplyNumber(const std::string& option, const std::string& value,
                                ProxyOptions& options, std::string& error) {
    const std::string bad = "bad value for " + option + ": \"" + value + "\"";
    unsigned long number = 0;
    if (option == "--max-connections") {
        return ApplyCount(option, value, 1000000, options.m_MaxConnections, error);
    } else if (option == "--max-per-client") {
        return ApplyCount(option, value, 1000000, options.m_MaxPerClient, error);
    } else if (option == "--max-handshakes-per-client") {
        return ApplyCount(option, value, 1000000, options.m_MaxHandshakesPerClient, error);
    } else if (option == "--max-handshakes") {
        return ApplyCount(option, value, 1000000, options.m_MaxHandshakes, error);
    } else if (option == "--max-monitor-clients") {
        return ApplyCount(option, value, 10000, options.m_MaxMonitorClients, error);
    } else if (option == "--max-metrics-clients") {
        return ApplyCount(option, value, 10000, options.m_MaxMetricsClients, error);
    } else if (option == "--max-monitor-per-client") {
        return ApplyCount(option, value, 10000, options.m_MaxMonitorPerClient, error);
    } else if (option == "--idle-timeout" || option == "--connect-timeout" ||
               option == "--handshake-timeout") {
        if (!ParseNumber(value, 1, 86400, number)) {
            error = bad + " (expected 1 to 86400 seconds)";
            return false;
        }
        (option == "--idle-timeout"      ? options.m_IdleTimeout
         : option == "--connect-timeout" ? options.m_ConnectTimeout
                                         : options.m_HandshakeTimeout) =
            static_cast<unsigned>(number);
    } else if (option == "--threads") {
        if (!ParseNumber(value, 0, 256, number)) {
            error = bad + " (expected 0 to 256; 0 is one per core)";
            return false;
        }
        options.m_Threads = static_cast<unsigned>(number);
    } else {
        return std::nullopt;
    }
    return true;
}

}  // namespace

const char* ProxyUsage() {
    return "usage: vgl-proxy [--config FILE] [--listen ADDR:PORT] [--allow CIDR]... [--users "
           "FILE]\n"
           "                 [--monitor ADDR] [--monitor-allow CIDR]... [--max-monitor-clients N]\n"
           "                 [--max-monitor-per-client N]\n"
           "                 [--monitor-tls-cert FILE --monitor-tls-key FILE --monitor-clients "
           "FILE]\n"
           "                 [--monitor-tls-generate DIR]\n"
           "                 [--metrics ADDR:PORT] [--metrics-allow CIDR]...\n"
           "                 [--max-metrics-clients N] [--metrics-users NAME]...\n"
           "                 [--block CIDR|NAME]... [--blocks-file FILE]\n"
           "                 [--max-connections N] [--max-per-client N]\n"
           "                 [--max-handshakes-per-client N] [--max-handshakes N]\n"
           "                 [--idle-timeout SECONDS] [--connect-timeout SECONDS]\n"
           "                 [--handshake-timeout SECONDS]\n"
           "                 [--threads N] [--quiet] [--log-format text|json] [--version]\n";
}

namespace {

// What --help says of each option, in the order of the usage; a new option
// is one more line here (and ProxyOptionTakesValue reads it too).
constexpr OptionHelp ProxyFirstHelps[] = {
    {"--config", "FILE", "read the settings from this TOML file first"},
    {"--listen", "ADDR:PORT", "where SOCKS5 clients connect [127.0.0.1:1080]"},
    {"--allow", "CIDR", "admit clients from this block; repeatable [loopback]"},
    {"--users", "FILE", "require passwords: name:crypt-hash lines"},
};
constexpr OptionHelp ProxyLaterHelps[] = {
    {"--metrics-users", "NAME", "users with metric labels of their own; repeatable [first 20]"},
    {"--block", "CIDR|NAME", "refuse CONNECTs there (a name: also those under it)"},
    {"--blocks-file", "FILE", "keep monitor clients' blocks here across restarts [in memory]"},
    {"--max-connections", "N", "client connections at once [1000]"},
    {"--max-per-client", "N", "connections of one client address at once [64]"},
    {"--max-handshakes-per-client", "N", "connections of one client still in handshake [8]"},
    {"--max-handshakes", "N", "connections still in handshake at once [256]"},
    {"--idle-timeout", "SECONDS", "close a connection idle this long [600]"},
    {"--connect-timeout", "SECONDS", "give up a CONNECT after this long [15]"},
    {"--handshake-timeout", "SECONDS", "time for greeting, login and request [10]"},
    {"--threads", "N", "I/O threads [one per core]"},
    {"--quiet", "", "no log line per connection"},
    {"--log-format", "text|json", "log lines as text or as one JSON object each [text]"},
    {"-h, --help", "", "print this help and exit"},
    {"--version", "", "print the version and exit"},
};
const std::vector<OptionHelp>& OptionHelps() {
    static const std::vector<OptionHelp> all =
        JoinOptionHelps({ProxyFirstHelps, MonitorServingOptionHelps(), ProxyLaterHelps});
    return all;
}

}  // namespace

std::string ProxyHelp() {
    return OptionsHelpText(ProxyUsage(),
                           "A SOCKS5 server that VGL watches through its monitor. The command "
                           "line wins\nover the file, and its lists add to the file's. Defaults "
                           "in brackets.\n",
                           OptionHelps());
}

bool ProxyOptionTakesValue(const std::string& option) {
    return OptionTakesValue(OptionHelps(), option);
}

bool ProxyOptionRepeats(const std::string& option) {
    for (const char* known :
         {"--allow", "--monitor-allow", "--metrics-allow", "--metrics-users", "--block"}) {
        if (option == known) return true;
    }
    return false;
}

bool ApplyProxyOption(const std::string& option, const std::string& value, ProxyOptions& options,
                      std::string& error) {
    if (const auto done = ApplyAddress(option, value, options, error)) return *done;
    if (const auto done = ApplyNumber(option, value, options, error)) return *done;
    const std::string bad = "bad value for " + option + ": \"" + value + "\"";
    if (option == "--quiet") {
        options.m_bQuiet = true;
    } else if (option == "--help" || option == "-h") {
        options.m_bHelp = true;
    } else if (option == "--version") {
        options.m_bVersion = true;
    } else if (option == "--config") {
        options.m_ConfigPath = value;
    } else if (option == "--metrics-users") {
        if (value.empty()) {
            error = bad + " (expected a user name)";
            return false;
        }
        options.m_MetricsUsers.push_back(value);
    } else if (option == "--block") {
        if (value.empty()) {
            error = bad + " (expected an address block or a name, e.g. 10.0.0.0/8 or example.com)";
            return false;
        }
        options.m_Rules.push_back(BlockRule(value));
        options.m_Rules.back().m_Number = static_cast<int>(options.m_Rules.size());
    } else if (option == "--blocks-file") {
        if (value.empty()) {
            error = bad + " (expected a file name; leave it out to keep blocks in memory)";
            return false;
        }
        options.m_BlocksPath = value;
    } else if (option == "--users") {
        // Only a setting left out turns authentication off, never an empty one.
        if (value.empty()) {
            error = bad + " (expected a users file; leave it out for no authentication)";
            return false;
        }
        options.m_UsersPath = value;
    } else if (option == "--monitor-tls-cert" || option == "--monitor-tls-key" ||
               option == "--monitor-clients" || option == "--monitor-tls-generate") {
        if (value.empty()) {
            error = bad + " (expected a file name)";
            return false;
        }
        (option == "--monitor-tls-cert"  ? options.m_MonitorTlsCert
         : option == "--monitor-tls-key" ? options.m_MonitorTlsKey
         : option == "--monitor-clients" ? options.m_MonitorClients
                                         : options.m_MonitorTlsGenerate) = value;
    } else if (option == "--log-format") {
        if (value != "text" && value != "json") {
            error = bad + " (expected text or json)";
            return false;
        }
        options.m_LogFormat = value == "json" ? LogFormat::Json : LogFormat::Text;
    } else {
        error = "unknown option " + option;
        return false;
    }
    return true;
}

bool ParseProxyOptions(int argc, char** argv, ProxyOptions& options, std::string& error) {
    return ParseProxyOptions(std::vector<std::string>(argv + 1, argv + argc), options, error);
}

bool ParseProxyOptions(const std::vector<std::string>& args, ProxyOptions& options,
                       std::string& error) {
    // The file first, so that the command line wins over it.
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--config" && !LoadProxyConfigFile(args[i + 1], options, error)) {
            return false;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        std::string value;
        if (ProxyOptionTakesValue(option)) {
            if (i + 1 >= args.size()) {
                error = "option " + option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!ApplyProxyOption(option, value, options, error)) return false;
    }
    if (!CheckMonitorTlsFiles(options.m_MonitorTlsCert, options.m_MonitorTlsKey,
                              options.m_MonitorClients, error)) {
        return false;
    }
    if (options.m_Allow.empty()) options.m_Allow = LoopbackOnly();
    if (options.m_MonitorAllow.empty()) options.m_MonitorAllow = LoopbackOnly();
    if (options.m_MetricsAllow.empty()) options.m_MetricsAllow = LoopbackOnly();
    return true;
}
