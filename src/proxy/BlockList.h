#pragma once
// The blocks monitor clients have set: users, client addresses or networks,
// destinations (an address, a network, or a name and every name under it).
// Sessions ask at each step whether one covers them, from any thread, so an
// empty list costs them one atomic load. A block past its end covers
// nothing and is dropped at the next change.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Refusal.h"
#include "SessionFacts.h"
#include "core/base/Cidr.h"
#include "core/monitor/MonControl.h"

class BlockList {
public:
    // The blocks in force by kind, in the order of MonBlockWhat (user, client, destination).
    using Counts = std::array<size_t, 3>;

    // Gives `block` the next number (its m_Id) and answers it.
    uint32_t Add(MonBlock block);
    bool Lift(uint32_t id);
    // Those read back from the state file; numbers go on from `nextId`.
    void Restore(std::vector<MonBlock> blocks, uint32_t nextId);
    std::vector<MonBlock> InForce(uint64_t now) const;
    uint32_t NextId() const;
    Counts CountInForce(uint64_t now) const;

    // The first block in force that covers it; `now` in seconds since 1970.
    std::optional<MonBlock> User(const std::string& user, uint64_t now) const;
    std::optional<MonBlock> Client(const Address16& client, uint64_t now) const;
    // `name`: the request's host name (empty for a request by address).
    std::optional<MonBlock> DestinationName(const std::string& name, uint64_t now) const;
    std::optional<MonBlock> DestinationAddress(const Address16& address, uint64_t now) const;

    // For closing the connections a new block covers.
    static bool Covers(const MonBlock& block, const SessionFacts& connection);

private:
    struct Entry {
        MonBlock m_Block;
        std::optional<Cidr> m_Network;  // for a client or destination that is one
    };
    static Entry EntryOf(MonBlock block);
    static bool InForceAt(const MonBlock& block, uint64_t now);
    static bool EntryCovers(const Entry& entry, const SessionFacts& connection);
    std::optional<MonBlock> Find(MonBlockWhat what, const SessionFacts& connection,
                                 uint64_t now) const;
    // Under the lock: forgets the ended blocks.
    void DropEnded(uint64_t now);

    mutable std::mutex m_Mutex;
    std::vector<Entry> m_Entries;
    uint32_t m_NextId = 1;
    std::atomic<size_t> m_Count{0};
};

// What a connection refused or closed by `block` is told, in its result and
// the log: "blocked: user alice (block 3 by ops-laptop)".
std::string BlockedText(const MonBlock& block);
// Who set it: the client key's name, its fingerprint when it has none.
std::string BlockSetter(const MonBlock& block);
// The refusal a block makes, counted by what it names.
RefusedBy RefusedByBlock(MonBlockWhat what);
