#pragma once
// The handshakes in progress of all clients together, within a budget of
// their own, so that slow handshakes never take the places of established
// connections. When the budget is full, a newcomer takes the place of the
// oldest handshake of the client key holding the most: an IPv6 client is
// counted by its /48 first and then by its /64, an IPv4 one by its address.
// A client of a key that holds none thus always gets a slot, however many
// addresses an attack is spread over.

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <unordered_map>

#include "ClientKey.h"

class HandshakeBudget {
public:
    using Close = std::function<void()>;

    // Counts a new handshake and answers its ticket. When `limit` are in
    // progress already, the one it replaces is taken out and its `close` put
    // in `dropped`, for the caller to call.
    uint64_t Enter(const Address16& client, Close close, size_t limit, Close& dropped);
    // Its handshake is over, or it ended; nothing when it was dropped already.
    void Leave(uint64_t ticket);
    size_t Size() const;

private:
    using Tickets = std::set<uint64_t>;  // oldest first
    struct Entry {
        Address16 m_Wide, m_Narrow;
        Close m_Close;
    };
    struct Wide {
        size_t m_Count = 0;
        std::unordered_map<Address16, Tickets, Address16Hash> m_Narrow;
    };

    Close TakeOut(uint64_t ticket);
    uint64_t OldestOfLargest() const;

    mutable std::mutex m_Mutex;
    uint64_t m_Next = 0;
    std::unordered_map<uint64_t, Entry> m_Entries;
    std::unordered_map<Address16, Wide, Address16Hash> m_Wide;
};
