#pragma once
// The sums of a set of connections: how many, how many active and failed,
// their bytes each way and their rates. The totals strip under the grid and
// each row of a grouped grid are one of these.

#include <cstddef>
#include <cstdint>

class EntryObj;

struct ConnectionTotals {
    void Add(const EntryObj& entry);
    void Add(const ConnectionTotals& other);

    size_t m_Connections = 0;
    size_t m_Active = 0;
    size_t m_Failed = 0;
    uint64_t m_BytesIn = 0;
    uint64_t m_BytesOut = 0;
    // Bytes per second; connections not yet measured add nothing, and while
    // none is measured the rates are negative (not known), as an entry's are.
    double m_RateIn = -1;
    double m_RateOut = -1;
};
