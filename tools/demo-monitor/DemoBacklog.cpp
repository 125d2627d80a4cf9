#include "DemoBacklog.h"

#include <algorithm>

namespace demo {

namespace {

// Each active connection is updated every 2 to 4 s: a client that asks every
// 5 s is due about 2 records per connection, and one that asks every 10 s
// still gets its records rather than a snapshot.
constexpr size_t QueuedPerConnection = 4;
// A small proxy makes few records: a client may go hours without asking.
constexpr size_t MinQueuedRecords = 20000;

}  // namespace

void DemoBacklog::Add(const SharedFrames& records, const std::vector<DemoClose>& closes,
                      size_t active) {
    for (const DemoClose& close : closes) {
        if (close.m_IdLow < m_KnownBelow) {
            m_Closes.push_back(close);
        }
    }
    if (m_bBehind || !records) {
        return;
    }
    if (m_Queued + records->m_Records > std::max(MinQueuedRecords, QueuedPerConnection * active)) {
        m_Queue.clear();
        m_Queued = 0;
        m_bBehind = true;
        return;
    }
    m_Queue.push_back(records);
    m_Queued += records->m_Records;
}

std::vector<SharedFrames> DemoBacklog::Take(DemoTraffic& traffic) {
    std::vector<SharedFrames> answer;
    if (m_bBehind) {
        if (!m_Closes.empty()) {
            answer.push_back(traffic.CloseRecords(m_Closes));
        }
        answer.push_back(traffic.Snapshot());
        m_bBehind = false;
    } else {
        answer.swap(m_Queue);
    }
    m_Queue.clear();
    m_Queued = 0;
    m_Closes.clear();
    m_KnownBelow = traffic.NextIdLow();
    return answer;
}

}  // namespace demo
