#pragma once
// What one client is to be told at its next request: the records made since
// its previous one. A client that asks seldom while the proxy is busy would
// hold an endless backlog, so past a limit that grows with the connections
// the backlog is dropped and the client gets a snapshot instead. A snapshot
// tells only what is active: the closes of the connections the client may
// have heard of are kept (they are small) and sent before it, so that no
// connection that ended stays open in the client for ever.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DemoTraffic.h"

namespace demo {

class DemoBacklog {
public:
    // Takes what the traffic made: its records (null when no client is to
    // get records) and the connections that ended, of `active` still going.
    void Add(const SharedFrames& records, const std::vector<DemoClose>& closes, size_t active);
    // The answer to a request, the traffic having advanced to now, in order.
    std::vector<SharedFrames> Take(DemoTraffic& traffic);
    // False when the next answer is a snapshot anyway.
    bool WantsRecords() const { return !m_bBehind; }

private:
    std::vector<SharedFrames> m_Queue;
    size_t m_Queued = 0;  // records in m_Queue
    // New, or too far behind: its next answer tells the connections active
    // then, and nothing is queued for it until then.
    bool m_bBehind = true;
    // The connections with ids below m_KnownBelow were made before its
    // previous answer, so it may know them: those of them that ended since.
    // No more than were active then, however long the client waits.
    std::vector<DemoClose> m_Closes;
    uint32_t m_KnownBelow = 0;
};

}  // namespace demo
