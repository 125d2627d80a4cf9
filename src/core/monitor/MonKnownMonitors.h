#pragma once
// The monitors whose identity the user has trusted, as SSH keeps known hosts:
// a text file, one line "KEY SHA256:..." each (KEY from Mon_MonitorKey), lines
// starting with '#' and blank ones ignored. Safe to use from several threads
// and several processes: each call reads the file afresh, and Add replaces it
// whole (write to a temporary file, rename).

#include <string>

class MonKnownMonitors {
public:
    explicit MonKnownMonitors(std::string path) : m_Path(std::move(path)) {}

    // The pinned fingerprint of the monitor; empty when it has none.
    std::string Find(const std::string& monitorKey) const;
    // Pins (or re-pins) the monitor. False with a message.
    bool Add(const std::string& monitorKey, const std::string& fingerprint,
             std::string& error) const;
    const std::string& Path() const { return m_Path; }

private:
    std::string m_Path;
};
