#include "core/monitor/MonHostName.h"

#include "core/monitor/MonStream.h"

namespace {

bool ParsePort(const std::string& digits, uint16_t& port) {
    if (digits.empty() || digits.size() > 5) {
        return false;
    }
    uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool Mon_ParseHostName(const std::string& text, std::string& host, uint16_t& port) {
    std::string name = text;
    uint16_t number = MonitorPort;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            return false;
        }
        name = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !ParsePort(rest.substr(1), number))) {
            return false;
        }
    } else if (const size_t colon = text.find(':');
               colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        // One colon separates a port; two or more make an IPv6 address.
        name = text.substr(0, colon);
        if (!ParsePort(text.substr(colon + 1), number)) {
            return false;
        }
    }
    if (name.empty()) {
        return false;
    }
    host = name;
    port = number;
    return true;
}
