#include "OptionText.h"

#include <arpa/inet.h>

#include <charconv>

namespace {

// Where the texts start; a longer option puts its text on the next line.
constexpr size_t TextColumn = 26;

std::string OptionHead(const OptionHelp& help) {
    std::string head = std::string("  ") + help.m_Option;
    if (help.m_Value[0] != '\0') head += std::string(" ") + help.m_Value;
    return head;
}

}  // namespace

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

std::vector<Cidr> LoopbackOnly() {
    return {*Cidr::Parse("127.0.0.0/8"), *Cidr::Parse("::1")};
}

std::span<const OptionHelp> MonitorServingOptionHelps() {
    static constexpr OptionHelp Helps[] = {
        {"--monitor", "ADDR", "the monitor's address, port 5051 [127.0.0.1]"},
        {"--monitor-allow", "CIDR", "admit monitors from this block; repeatable [loopback]"},
        {"--max-monitor-clients", "N", "monitor clients at once [16]"},
        {"--max-monitor-per-client", "N", "monitor clients of one address at once [4]"},
        {"--monitor-tls-cert", "FILE", "the monitor speaks TLS only, with this certificate"},
        {"--monitor-tls-key", "FILE", "the key of --monitor-tls-cert"},
        {"--monitor-clients", "FILE",
         "client certificates allowed over TLS: SHA256:... [act] name lines"},
        {"--monitor-tls-generate", "DIR",
         "write DIR/monitor.key and DIR/monitor.crt, print the fingerprint and exit"},
        {"--metrics", "[ADDR:]PORT", "answer GET /metrics for Prometheus here [off]"},
        {"--metrics-allow", "CIDR", "admit metrics clients from this block; repeatable [loopback]"},
        {"--max-metrics-clients", "N", "metrics clients at once [8]"},
    };
    return Helps;
}

std::vector<OptionHelp> JoinOptionHelps(std::initializer_list<std::span<const OptionHelp>> parts) {
    std::vector<OptionHelp> joined;
    for (const std::span<const OptionHelp> part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

std::string OptionsHelpText(const std::string& usage, const std::string& intro,
                            std::span<const OptionHelp> options) {
    std::string text = usage + "\n" + intro + "\nOptions:\n";
    for (const OptionHelp& help : options) {
        std::string head = OptionHead(help);
        head += head.size() + 2 <= TextColumn ? std::string(TextColumn - head.size(), ' ')
                                              : "\n" + std::string(TextColumn, ' ');
        text += head + help.m_Text + "\n";
    }
    return text;
}

bool OptionTakesValue(std::span<const OptionHelp> options, const std::string& option) {
    for (const OptionHelp& help : options) {
        if (option == help.m_Option) return help.m_Value[0] != '\0';
    }
    return false;
}

bool CheckMonitorTlsFiles(const std::string& certPath, const std::string& keyPath,
                          const std::string& clientsPath, std::string& error) {
    const bool cert = !certPath.empty();
    const bool key = !keyPath.empty();
    const bool clients = !clientsPath.empty();
    if (cert != key) {
        error = std::string(cert ? "--monitor-tls-cert" : "--monitor-tls-key") + " needs " +
                (cert ? "--monitor-tls-key" : "--monitor-tls-cert") + " too";
    } else if (cert && !clients) {
        error =
            "TLS on the monitor needs a clients file (--monitor-clients): without one "
            "anyone who connects would get the records";
    } else if (clients && !cert) {
        error =
            "--monitor-clients needs --monitor-tls-cert and --monitor-tls-key: client "
            "certificates are only checked over TLS";
    } else {
        return true;
    }
    return false;
}
