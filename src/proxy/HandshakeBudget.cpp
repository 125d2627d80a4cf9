#include "HandshakeBudget.h"

namespace {

// The /48 of an IPv6 address (the block one site is usually given); an IPv4 address itself.
Address16 WideKey(const Address16& address) {
    static const Cidr v4 = *Cidr::Parse("::ffff:0:0/96");
    if (v4.Contains(address)) return address;
    Address16 key = address;
    for (size_t i = 6; i < key.size(); ++i) key[i] = 0;
    return key;
}

// Of two groups, the one holding more, or as many but an older handshake.
bool Larger(size_t count, uint64_t oldest, size_t bestCount, uint64_t bestOldest) {
    return count > bestCount || (count == bestCount && oldest < bestOldest);
}

}  // namespace

uint64_t HandshakeBudget::Enter(const Address16& client, Close close, size_t limit,
                                Close& dropped) {
    std::lock_guard lock(m_Mutex);
    if (!m_Entries.empty() && m_Entries.size() >= limit) dropped = TakeOut(OldestOfLargest());
    const uint64_t ticket = ++m_Next;
    const Address16 narrow = ClientKey(client);
    const Address16 wide = WideKey(client);
    m_Entries[ticket] = {wide, narrow, std::move(close)};
    Wide& group = m_Wide[wide];
    ++group.m_Count;
    group.m_Narrow[narrow].insert(ticket);
    return ticket;
}

void HandshakeBudget::Leave(uint64_t ticket) {
    std::lock_guard lock(m_Mutex);
    TakeOut(ticket);
}

size_t HandshakeBudget::Size() const {
    std::lock_guard lock(m_Mutex);
    return m_Entries.size();
}

HandshakeBudget::Close HandshakeBudget::TakeOut(uint64_t ticket) {
    const auto entry = m_Entries.find(ticket);
    if (entry == m_Entries.end()) return {};
    Close close = std::move(entry->second.m_Close);
    const auto wide = m_Wide.find(entry->second.m_Wide);
    const auto narrow = wide->second.m_Narrow.find(entry->second.m_Narrow);
    narrow->second.erase(ticket);
    if (narrow->second.empty()) wide->second.m_Narrow.erase(narrow);
    if (--wide->second.m_Count == 0) m_Wide.erase(wide);
    m_Entries.erase(entry);
    return close;
}

// Linear in the keys, and only asked when the budget is full.
uint64_t HandshakeBudget::OldestOfLargest() const {
    const Wide* largest = nullptr;
    uint64_t largestOldest = 0;
    for (const auto& [key, group] : m_Wide) {
        uint64_t oldest = UINT64_MAX;
        for (const auto& [narrow, tickets] : group.m_Narrow)
            oldest = std::min(oldest, *tickets.begin());
        if (!largest || Larger(group.m_Count, oldest, largest->m_Count, largestOldest)) {
            largest = &group;
            largestOldest = oldest;
        }
    }
    const Tickets* chosen = nullptr;
    for (const auto& [narrow, tickets] : largest->m_Narrow) {
        if (!chosen || Larger(tickets.size(), *tickets.begin(), chosen->size(), *chosen->begin()))
            chosen = &tickets;
    }
    return *chosen->begin();
}
