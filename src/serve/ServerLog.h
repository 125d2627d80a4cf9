#pragma once
// The log on standard error: one line per connection (silenced by --quiet)
// and notices of start, stop, reload and trouble (always). Each line starts
// with an RFC 3339 time stamp and a level, and goes out in a single write,
// so lines of different threads never mix. Texts that come from clients go
// through Quote(), so that no client can write a field or a line of its own.
// With --log-format json every line is one JSON object instead, for the log
// collectors that read many servers; the fields carry the same values.

#include <atomic>
#include <utility>
#include <cstdint>
#include <string>
#include <string_view>

enum class LogFormat { Text, Json };

class ServerLog {
public:
    // How a connection ended, in the log's fields.
    struct Session {
        std::string m_ClientHost;  // "192.0.2.7", "2001:db8::7"
        uint16_t m_ClientPort = 0;
        std::string m_User;      // as the client sent it; empty without a login
        std::string m_Dest;      // "host:port" as the text shows it; empty before a request
        std::string m_DestHost;  // the requested name or address
        uint16_t m_DestPort = 0;
        uint64_t m_BytesIn = 0;   // destination toward client
        uint64_t m_BytesOut = 0;  // client toward destination
        double m_Seconds = 0;
        std::string m_Result;
    };

    // `program` ("vgl-proxy") names the program in each text line.
    ServerLog(std::string program, bool quiet, LogFormat format = LogFormat::Text)
        : m_Program(std::move(program)), m_bQuiet(quiet), m_Format(format) {}
    void SetQuiet(bool quiet) { m_bQuiet = quiet; }
    void SetFormat(LogFormat format) { m_Format = format; }
    void Connection(const std::string& line) const;
    void Connection(const Session& session) const;
    void Notice(const std::string& line) const;
    void Warning(const std::string& line) const;
    // What a monitor client did to the server (never silenced): who (the
    // client key's name and fingerprint, its endpoint), what, and the result.
    struct AuditEntry {
        std::string m_Name, m_Fingerprint, m_Endpoint;
        std::string m_Action;  // "close 1:7", "block user alice for 3600 s"
        std::string m_Result;  // "done: ..." or "refused: ..."
    };
    void Audit(const AuditEntry& entry) const;
    // Why the program cannot start: as text "vgl-proxy: why", without a time.
    void Failure(const std::string& line) const;

    // In double quotes; '"' and '\' escaped with '\', control bytes and
    // bytes from 0x80 up as \xNN.
    static std::string Quote(std::string_view text);
    // A JSON string. Text that is not valid UTF-8 is read as Latin-1, as the
    // monitor's readers do, so that its bytes from 0x80 up become \u00NN.
    static std::string JsonQuote(std::string_view text);

private:
    // `fields` go into the JSON object after the message; the text has none.
    void Write(const char* level, const std::string& line, const std::string& fields = {}) const;

    const std::string m_Program;
    std::atomic<bool> m_bQuiet;
    std::atomic<LogFormat> m_Format;
};
