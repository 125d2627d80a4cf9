#include "ServerLog.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "core/base/Utf8Text.h"

namespace {

// `text` in double quotes: `"` and `\` after a backslash, each byte that
// `escape` picks written in `form` ("\\x%02X", "\\u%04x"), the rest as it is.
template <typename Escape>
std::string QuoteWith(std::string_view text, const char* form, Escape escape) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (escape(byte)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, form, byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

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

void WriteAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// The text line's words after the client: user=... dest=... result=... in=...
std::string SessionText(const ServerLog::Session& session) {
    const bool v6 = session.m_ClientHost.find(':') != std::string::npos;
    char tail[96];
    std::snprintf(tail, sizeof tail, " in=%llu out=%llu time=%.3fs",
                  static_cast<unsigned long long>(session.m_BytesIn),
                  static_cast<unsigned long long>(session.m_BytesOut), session.m_Seconds);
    return (v6 ? "[" + session.m_ClientHost + "]" : session.m_ClientHost) + ":" +
           std::to_string(session.m_ClientPort) +
           " user=" + (session.m_User.empty() ? "-" : ServerLog::Quote(session.m_User)) +
           " dest=" + (session.m_Dest.empty() ? "-" : ServerLog::Quote(session.m_Dest)) +
           " result=" + ServerLog::Quote(session.m_Result) + tail;
}

// The fields after time, level and message; null where the connection had
// no user or ended before naming a destination.
std::string SessionJson(const ServerLog::Session& session) {
    const bool requested = !session.m_Dest.empty();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", session.m_Seconds);
    return ",\"client\":" + ServerLog::JsonQuote(session.m_ClientHost) +
           ",\"client_port\":" + std::to_string(session.m_ClientPort) +
           ",\"user\":" + (session.m_User.empty() ? "null" : ServerLog::JsonQuote(session.m_User)) +
           ",\"destination\":" + (requested ? ServerLog::JsonQuote(session.m_DestHost) : "null") +
           ",\"destination_port\":" + (requested ? std::to_string(session.m_DestPort) : "null") +
           ",\"bytes_in\":" + std::to_string(session.m_BytesIn) +
           ",\"bytes_out\":" + std::to_string(session.m_BytesOut) + ",\"duration\":" + seconds +
           ",\"result\":" + ServerLog::JsonQuote(session.m_Result);
}

}  // namespace

std::string ServerLog::Quote(std::string_view text) {
    return QuoteWith(text, "\\x%02X",
                     [](unsigned char byte) { return byte < 0x20 || byte >= 0x7F; });
}

std::string ServerLog::JsonQuote(std::string_view text) {
    const bool utf8 = IsUtf8(text);
    return QuoteWith(text, "\\u%04x", [utf8](unsigned char byte) {
        return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8);
    });
}

void ServerLog::Write(const char* level, const std::string& line, const std::string& fields) const {
    if (m_Format == LogFormat::Json) {
        WriteAll("{\"time\":\"" + TimeStamp() + "\",\"level\":\"" + level +
                 "\",\"message\":" + JsonQuote(line) + fields + "}\n");
    } else {
        WriteAll(TimeStamp() + " " + level + " " + m_Program + ": " + line + "\n");
    }
}

void ServerLog::Connection(const std::string& line) const {
    if (!m_bQuiet) Write("info", line);
}

void ServerLog::Connection(const Session& session) const {
    if (m_bQuiet) return;
    if (m_Format == LogFormat::Json) {
        Write("info", "connection", SessionJson(session));
    } else {
        Write("info", SessionText(session));
    }
}

void ServerLog::Notice(const std::string& line) const {
    Write("notice", line);
}

void ServerLog::Warning(const std::string& line) const {
    Write("warning", line);
}

// The names come from the clients file and the action from a client's
// request, so both are quoted.
void ServerLog::Audit(const AuditEntry& entry) const {
    const std::string line = "audit: " + Quote(entry.m_Name) + " " + entry.m_Fingerprint +
                             " from " + entry.m_Endpoint + ": " + entry.m_Action + ": " +
                             entry.m_Result;
    const std::string fields = ",\"client_name\":" + JsonQuote(entry.m_Name) +
                               ",\"client_fingerprint\":" + JsonQuote(entry.m_Fingerprint) +
                               ",\"client\":" + JsonQuote(entry.m_Endpoint) +
                               ",\"action\":" + JsonQuote(entry.m_Action) +
                               ",\"result\":" + JsonQuote(entry.m_Result);
    Write("audit", line, fields);
}

void ServerLog::Failure(const std::string& line) const {
    if (m_Format == LogFormat::Json) {
        Write("error", line);
    } else {
        WriteAll(m_Program + ": " + line + "\n");
    }
}
