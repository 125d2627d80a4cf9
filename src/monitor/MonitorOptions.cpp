#include "MonitorOptions.h"

#include "OptionText.h"

namespace {

constexpr OptionHelp MonitorFirstHelps[] = {
    {"--dante-log", "FILE", "follow Dante's log file (its logoutput:)"},
    {"--dante-journal", "UNIT", "follow the systemd journal of Dante's unit instead"},
};
constexpr OptionHelp MonitorLaterHelps[] = {
    {"--handshake-timeout", "SECONDS", "time for a monitor client's TLS and first request [10]"},
    {"--quiet", "", "no log line per monitor client"},
    {"--log-format", "text|json", "log lines as text or as one JSON object each [text]"},
    {"--check", "HOST[:PORT]", "poll that monitor, report each record that breaks the protocol"},
    {"--polls", "N", "with --check: how many polls [3]"},
    {"--period", "SECONDS", "with --check: the time between polls [1]"},
    {"-h, --help", "", "print this help and exit"},
    {"--version", "", "print the version and exit"},
};

const std::vector<OptionHelp>& OptionHelps() {
    static const std::vector<OptionHelp> all =
        JoinOptionHelps({MonitorFirstHelps, MonitorServingOptionHelps(), MonitorLaterHelps});
    return all;
}

bool TakesValue(const std::string& option) {
    return OptionTakesValue(OptionHelps(), option);
}

bool ApplyCount(const std::string& option, const std::string& value, size_t& target,
                std::string& error) {
    unsigned long number = 0;
    if (!ParseNumber(value, 1, 10000, number)) {
        error = "bad value for " + option + ": \"" + value + "\" (expected 1 to 10000)";
        return false;
    }
    target = number;
    return true;
}

bool ApplyAddress(const std::string& option, const std::string& value, MonitorOptions& options,
                  std::string& error) {
    const std::string bad = "bad value for " + option + ": \"" + value + "\"";
    if (option == "--monitor") {
        if (!IsAddress(value)) {
            error = bad + " (expected an address, e.g. 127.0.0.1)";
            return false;
        }
        options.m_MonitorHost = value;
    } else if (option == "--metrics") {
        // A port alone: loopback, so that nothing is offered to the network unasked.
        const bool portOnly = value.find(':') == std::string::npos;
        if (!ParseHostPort(portOnly ? "127.0.0.1:" + value : value, options.m_MetricsHost,
                           options.m_MetricsPort)) {
            error = bad + " (expected [ADDRESS:]PORT, e.g. 9152 or 127.0.0.1:9152)";
            return false;
        }
    } else {
        const auto block = Cidr::Parse(value);
        if (!block) {
            error = bad + " (expected an address block, e.g. 192.168.0.0/16)";
            return false;
        }
        (option == "--monitor-allow" ? options.m_MonitorAllow : options.m_MetricsAllow)
            .push_back(*block);
    }
    return true;
}

bool ApplyText(const std::string& option, const std::string& value, MonitorOptions& options,
               std::string& error) {
    if (value.empty()) {
        error = "bad value for " + option + ": \"\" (expected " +
                (option == "--dante-journal" ? "a unit name" : "a file name") + ")";
        return false;
    }
    (option == "--dante-log"          ? options.m_DanteLog
     : option == "--dante-journal"    ? options.m_DanteJournal
     : option == "--monitor-tls-cert" ? options.m_MonitorTlsCert
     : option == "--monitor-tls-key"  ? options.m_MonitorTlsKey
     : option == "--monitor-clients"  ? options.m_MonitorClients
                                      : options.m_MonitorTlsGenerate) = value;
    return true;
}

bool ApplyOption(const std::string& option, const std::string& value, MonitorOptions& options,
                 std::string& error) {
    if (option == "--monitor" || option == "--metrics" || option == "--monitor-allow" ||
        option == "--metrics-allow") {
        return ApplyAddress(option, value, options, error);
    }
    if (option == "--dante-log" || option == "--dante-journal" || option == "--monitor-tls-cert" ||
        option == "--monitor-tls-key" || option == "--monitor-clients" ||
        option == "--monitor-tls-generate") {
        return ApplyText(option, value, options, error);
    }
    if (option == "--max-monitor-clients")
        return ApplyCount(option, value, options.m_MaxMonitorClients, error);
    if (option == "--max-monitor-per-client")
        return ApplyCount(option, value, options.m_MaxMonitorPerClient, error);
    if (option == "--max-metrics-clients")
        return ApplyCount(option, value, options.m_MaxMetricsClients, error);
    if (option == "--handshake-timeout") {
        unsigned long number = 0;
        if (!ParseNumber(value, 1, 86400, number)) {
            error = "bad value for " + option + ": \"" + value + "\" (expected 1 to 86400 seconds)";
            return false;
        }
        options.m_HandshakeTimeout = static_cast<unsigned>(number);
    } else if (option == "--log-format") {
        if (value != "text" && value != "json") {
            error = "bad value for --log-format: \"" + value + "\" (expected text or json)";
            return false;
        }
        options.m_LogFormat = value == "json" ? LogFormat::Json : LogFormat::Text;
    } else if (option == "--quiet") {
        options.m_bQuiet = true;
    } else if (option == "--help" || option == "-h") {
        options.m_bHelp = true;
    } else if (option == "--version") {
        options.m_bVersion = true;
    } else if (option == "--check" || option == "--polls" || option == "--period") {
        error =
            option + " belongs to the checker, which comes first: vgl-monitor --check HOST[:PORT]";
        return false;
    } else {
        error = "unknown option " + option;
        return false;
    }
    return true;
}

// Where the sessions come from: exactly one place.
bool CheckSource(const MonitorOptions& options, std::string& error) {
    if (options.m_DanteLog.empty() == options.m_DanteJournal.empty()) {
        error = options.m_DanteLog.empty()
                    ? "no Dante to watch: give --dante-log FILE or --dante-journal UNIT"
                    : "--dante-log and --dante-journal cannot both be given";
        return false;
    }
    return true;
}

}  // namespace

const char* MonitorUsage() {
    return "usage: vgl-monitor (--dante-log FILE | --dante-journal UNIT) [--monitor ADDR]\n"
           "                   [--monitor-allow CIDR]... [--max-monitor-clients N]\n"
           "                   [--max-monitor-per-client N]\n"
           "                   [--monitor-tls-cert FILE --monitor-tls-key FILE --monitor-clients "
           "FILE]\n"
           "                   [--metrics [ADDR:]PORT] [--metrics-allow CIDR]...\n"
           "                   [--max-metrics-clients N] [--handshake-timeout SECONDS]\n"
           "                   [--quiet] [--log-format text|json]\n"
           "       vgl-monitor --monitor-tls-generate DIR\n"
           "       vgl-monitor --check HOST[:PORT] [--polls N] [--period SECONDS]\n"
           "       vgl-monitor --help | --version\n";
}

std::string MonitorHelp() {
    return OptionsHelpText(
        MonitorUsage(),
        "A monitor for VGL beside a Dante SOCKS5 server: its sessions from Dante's\n"
        "log lines, their live bytes from the kernel, served on port 5051. Dante's\n"
        "socks pass rules need \"log: connect disconnect error\". Defaults in brackets.\n",
        OptionHelps());
}

bool ParseMonitorOptions(const std::vector<std::string>& args, MonitorOptions& options,
                         std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        std::string value;
        if (TakesValue(option)) {
            if (i + 1 >= args.size()) {
                error = "option " + option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!ApplyOption(option, value, options, error)) return false;
    }
    if (options.m_bHelp || options.m_bVersion || !options.m_MonitorTlsGenerate.empty()) return true;
    if (!CheckSource(options, error) ||
        !CheckMonitorTlsFiles(options.m_MonitorTlsCert, options.m_MonitorTlsKey,
                              options.m_MonitorClients, error)) {
        return false;
    }
    if (options.m_MonitorAllow.empty()) options.m_MonitorAllow = LoopbackOnly();
    if (options.m_MetricsAllow.empty()) options.m_MetricsAllow = LoopbackOnly();
    return true;
}
