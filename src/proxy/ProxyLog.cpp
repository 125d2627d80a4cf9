#include "ProxyLog.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

// 2026-12-09T05:30:00.123Z
std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

void WriteLine(const char* level, const std::string& line) {
    const std::string text = TimeStamp() + " " + level + " vgl-proxy: " + line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

std::string ProxyLog::Quote(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

void ProxyLog::Connection(const std::string& line) const {
    if (!m_bQuiet) WriteLine("info", line);
}

void ProxyLog::Notice(const std::string& line) const {
    WriteLine("notice", line);
}

void ProxyLog::Warning(const std::string& line) const {
    WriteLine("warning", line);
}
