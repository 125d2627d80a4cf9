#pragma once
// The log on standard error: one line per connection (silenced by --quiet)
// and notices of start, stop and trouble (always). Each line goes out in a
// single write, so lines of different threads never mix.

#include <string>

class ProxyLog {
public:
    explicit ProxyLog(bool quiet) : m_bQuiet(quiet) {}
    void Connection(const std::string& line) const;
    void Notice(const std::string& line) const;

private:
    bool m_bQuiet;
};
