#pragma once
// One batch of a monitor as it arrived: its record messages, framed as on the
// wire and in the order received, and how the batch ended. Reading a batch
// (Mon_ReadBatch, on any thread) and applying it (PMCTable, on the session's
// thread) are the two halves of a poll.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/monitor/MonStream.h"

// The limits of one session's network steps; tests shorten them.
struct SessionLimits {
    int m_ConnectMs = 15000;                 // host lookup and connect together
    int m_PollMs = 30000;                    // from the request to the empty message
    size_t m_BatchBytes = size_t{64} << 20;  // one batch's messages, length fields included
};
SessionLimits GetSessionLimits();
void SetSessionLimits(const SessionLimits& limits);

// The storage of a large batch comes straight from the system and goes
// straight back to it: blocks of that size freed to the allocator's heap
// would mostly stay with the process (its thresholds grow with them).
template <typename T>
struct BatchAllocator {
    using value_type = T;
    static constexpr size_t SystemBytes = size_t{1} << 20;
    BatchAllocator() = default;
    template <typename U>
    BatchAllocator(const BatchAllocator<U>&) {}
    T* allocate(size_t count);
    void deallocate(T* block, size_t count);
    friend bool operator==(const BatchAllocator&, const BatchAllocator&) { return true; }
};

class MonBatch {
public:
    // Empties the batch; storage beyond KeptBytes is given back, so that one
    // huge batch does not pin its memory for the rest of the session.
    static constexpr size_t KeptBytes = size_t{1} << 20;
    void Clear();
    // Appends one record message; the storage never grows past `limit` bytes.
    void Append(const uint8_t* body, uint16_t length, size_t limit);
    // The next record not yet taken; false when all have been.
    bool Next(const uint8_t*& body, uint16_t& length);
    bool AtEnd() const { return m_Next >= m_Frames.size(); }
    // Takes every record not yet taken, without looking at them.
    void SkipRest() { m_Next = m_Frames.size(); }
    size_t Bytes() const { return m_Frames.size(); }
    size_t Capacity() const { return m_Frames.capacity(); }

    int32_t m_Result = 0;  // after the records: 0 the empty message, -1 a failure
    int m_Version = 1;     // of its records, as the link negotiated them
    // The failure was the monitor's own (an illegal record, the batch past its
    // limit): what came before it is not to be trusted either.
    bool m_bIllegal = false;
    int32_t m_ErrorCode = 0;
    char m_ErrorText[128] = "";

private:
    std::vector<uint8_t, BatchAllocator<uint8_t>> m_Frames;
    size_t m_Next = 0;
};

// Reads one whole batch: sends the request unless one is outstanding, then
// takes messages up to the empty one. Every record is checked as it comes,
// so the batch holds only valid ones; an invalid record or a batch past the
// byte limit fails as an illegal message (m_bIllegal), a batch still open at the poll
// deadline as a time-out (10060). Returns 0, or -1 with the connection's last
// error (and the batch's) telling why.
int32_t Mon_ReadBatch(MonitorConnection* connection, MonBatch& batch, const SessionLimits& limits);
