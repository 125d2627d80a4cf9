#pragma once
// --monitor-tls-generate: a new identity for a monitor, in FOLDER/monitor.key
// and FOLDER/monitor.crt, never over an old one, since every client that
// pinned the old one would refuse the new.

#include <string>

// Prints the fingerprint on standard output; 0, or 1 with the reason on
// standard error as "PROGRAM: why".
int GenerateMonitorIdentity(const std::string& folder, const std::string& program);
