#pragma once
// What a session may be set to, wherever it is set: the options sheet, a
// session document, the kept defaults and the command line.

#include <cstdint>

// Seconds between two polls of the monitor; the Data page steps by 5.
constexpr int32_t MinUpdatePeriod = 5;
constexpr int32_t MaxUpdatePeriod = 120;
constexpr int32_t UpdatePeriodStep = 5;
constexpr int32_t DefaultUpdatePeriod = 60;

// Connections a session keeps (active plus closed; the failed list has the same limit).
constexpr int32_t MinConnectionLimit = 1;
constexpr int32_t MaxConnectionLimit = 100000;
constexpr int32_t DefaultConnectionLimit = 50;
