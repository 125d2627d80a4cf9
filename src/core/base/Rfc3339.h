#pragma once
// Times as the exports write them: RFC 3339 in UTC, to the second.

#include <cstdint>
#include <string>

// Seconds since 1970-01-01 UTC as "2026-12-09T05:24:19Z"; empty for a time
// the system calendar cannot hold.
std::string Rfc3339(int64_t seconds);
