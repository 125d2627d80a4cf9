#include "core/table/TrafficPoint.h"

void TrafficPoint::AppendData(const std::map<std::string, uint64_t>& values) {
    std::map<std::string, uint64_t> sum = values;
    for (auto& [service, bytes] : sum) {
        auto before = m_Values.find(service);
        if (before != m_Values.end()) bytes += before->second;
    }
    m_Values.swap(sum);
}
