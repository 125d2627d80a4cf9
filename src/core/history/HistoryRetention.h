#pragma once
// How much history is kept, in the units the user sets (days and MiB), and
// what the writer makes of them.

#include <cstdint>

constexpr int32_t MinHistoryDays = 1;
constexpr int32_t MaxHistoryDays = 3650;
constexpr int32_t DefaultHistoryDays = 30;
constexpr int32_t MinHistoryMiB = 1;
constexpr int32_t MaxHistoryMiB = 1024 * 1024;
constexpr int32_t DefaultHistoryMiB = 1024;

constexpr int64_t HistoryDaysToSeconds(int32_t days) {
    return int64_t{days} * 86400;
}
constexpr uint64_t HistoryMiBToBytes(int32_t mib) {
    return uint64_t(mib) << 20;
}
