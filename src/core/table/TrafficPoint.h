#pragma once
// The graph's point in progress: each service's traffic added up over the
// polls of one update period, so that a point covers the period however many
// polls the user's actions made in it.

#include <cstdint>
#include <map>
#include <string>

#include "core/table/PMCTable.h"

class TrafficPoint : public TrafficSink {
public:
    // Adds one poll's traffic. The services of this poll are the point's from
    // now on: one the poll does not list (the list changed) is dropped.
    void AppendData(const std::map<std::string, uint64_t>& values) override;
    const std::map<std::string, uint64_t>& Values() const { return m_Values; }
    void Clear() { m_Values.clear(); }

private:
    std::map<std::string, uint64_t> m_Values;
};
