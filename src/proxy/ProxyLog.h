#pragma once
// The log on standard error: one line per connection (silenced by --quiet)
// and notices of start, stop, reload and trouble (always). Each line starts
// with an RFC 3339 time stamp and a level, and goes out in a single write,
// so lines of different threads never mix. Texts that come from clients go
// through Quote(), so that no client can write a field or a line of its own.

#include <atomic>
#include <string>
#include <string_view>

class ProxyLog {
public:
    explicit ProxyLog(bool quiet) : m_bQuiet(quiet) {}
    void SetQuiet(bool quiet) { m_bQuiet = quiet; }
    void Connection(const std::string& line) const;
    void Notice(const std::string& line) const;
    void Warning(const std::string& line) const;

    // In double quotes; '"' and '\' escaped with '\', control bytes and
    // bytes from 0x80 up as \xNN.
    static std::string Quote(std::string_view text);

private:
    std::atomic<bool> m_bQuiet;
};
