#pragma once
// A monitor's address as a user types it: "host", "host:port", an IPv6
// address ("::1", which has colons of its own and so never carries a port),
// or "[IPv6]:port". Without a port the monitor's own port is meant.

#include <cstdint>
#include <string>

// Splits `text` into the host to look up and the port. False, leaving both
// alone, for an empty host, an unclosed bracket, or a port that is not a
// number from 1 to 65535.
bool Mon_ParseHostName(const std::string& text, std::string& host, uint16_t& port);
