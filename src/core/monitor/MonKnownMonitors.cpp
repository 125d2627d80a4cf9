#include "core/monitor/MonKnownMonitors.h"

// Placeholder until pinning is built.
std::string MonKnownMonitors::Find(const std::string&) const {
    return {};
}
bool MonKnownMonitors::Add(const std::string&, const std::string&, std::string& error) const {
    error = "not built yet";
    return false;
}
