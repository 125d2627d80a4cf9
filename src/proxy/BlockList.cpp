#include "BlockList.h"

#include <algorithm>

#include "DestRule.h"

namespace {

size_t KindIndex(MonBlockWhat what) {
    return static_cast<size_t>(what) - 1;
}

}  // namespace

BlockList::Entry BlockList::EntryOf(MonBlock block) {
    Entry entry;
    // A destination that is no address block is a name.
    if (block.m_What != MonBlockWhat::User) entry.m_Network = Cidr::Parse(block.m_Value);
    entry.m_Block = std::move(block);
    return entry;
}

bool BlockList::InForceAt(const MonBlock& block, uint64_t now) {
    return block.m_Until == 0 || now < block.m_Until;
}

uint32_t BlockList::Add(MonBlock block) {
    std::lock_guard lock(m_Mutex);
    DropEnded(block.m_Since);
    block.m_Id = m_NextId++;
    m_Entries.push_back(EntryOf(std::move(block)));
    m_Count.store(m_Entries.size());
    return m_Entries.back().m_Block.m_Id;
}

bool BlockList::Lift(uint32_t id) {
    std::lock_guard lock(m_Mutex);
    const size_t before = m_Entries.size();
    std::erase_if(m_Entries, [id](const Entry& entry) { return entry.m_Block.m_Id == id; });
    m_Count.store(m_Entries.size());
    return m_Entries.size() != before;
}

void BlockList::Restore(std::vector<MonBlock> blocks, uint32_t nextId) {
    std::lock_guard lock(m_Mutex);
    m_Entries.clear();
    for (MonBlock& block : blocks) {
        nextId = std::max(nextId, block.m_Id + 1);
        m_Entries.push_back(EntryOf(std::move(block)));
    }
    m_NextId = std::max(nextId, 1u);
    m_Count.store(m_Entries.size());
}

void BlockList::DropEnded(uint64_t now) {
    std::erase_if(m_Entries, [now](const Entry& entry) { return !InForceAt(entry.m_Block, now); });
}

std::vector<MonBlock> BlockList::InForce(uint64_t now) const {
    std::vector<MonBlock> blocks;
    std::lock_guard lock(m_Mutex);
    for (const Entry& entry : m_Entries) {
        if (InForceAt(entry.m_Block, now)) blocks.push_back(entry.m_Block);
    }
    return blocks;
}

uint32_t BlockList::NextId() const {
    std::lock_guard lock(m_Mutex);
    return m_NextId;
}

BlockList::Counts BlockList::CountInForce(uint64_t now) const {
    Counts counts{};
    std::lock_guard lock(m_Mutex);
    for (const Entry& entry : m_Entries) {
        if (InForceAt(entry.m_Block, now)) ++counts[KindIndex(entry.m_Block.m_What)];
    }
    return counts;
}

bool BlockList::EntryCovers(const Entry& entry, const SessionFacts& connection) {
    const MonBlock& block = entry.m_Block;
    switch (block.m_What) {
        case MonBlockWhat::User:
            return connection.m_User == block.m_Value;
        case MonBlockWhat::Client:
            return entry.m_Network && entry.m_Network->Contains(connection.m_Client);
        case MonBlockWhat::Destination:
            if (!entry.m_Network) {
                return !connection.m_DestName.empty() &&
                       NameHasSuffix(connection.m_DestName, block.m_Value);
            }
            return connection.m_DestAddress && entry.m_Network->Contains(*connection.m_DestAddress);
    }
    return false;
}

bool BlockList::Covers(const MonBlock& block, const SessionFacts& connection) {
    return EntryCovers(EntryOf(block), connection);
}

std::optional<MonBlock> BlockList::Find(MonBlockWhat what, const SessionFacts& connection,
                                        uint64_t now) const {
    if (m_Count.load(std::memory_order_relaxed) == 0) return std::nullopt;
    std::lock_guard lock(m_Mutex);
    for (const Entry& entry : m_Entries) {
        if (entry.m_Block.m_What == what && InForceAt(entry.m_Block, now) &&
            EntryCovers(entry, connection)) {
            return entry.m_Block;
        }
    }
    return std::nullopt;
}

std::optional<MonBlock> BlockList::User(const std::string& user, uint64_t now) const {
    SessionFacts connection;
    connection.m_User = user;
    return Find(MonBlockWhat::User, connection, now);
}

std::optional<MonBlock> BlockList::Client(const Address16& client, uint64_t now) const {
    SessionFacts connection;
    connection.m_Client = client;
    return Find(MonBlockWhat::Client, connection, now);
}

std::optional<MonBlock> BlockList::DestinationName(const std::string& name, uint64_t now) const {
    SessionFacts connection;
    connection.m_DestName = name;
    return Find(MonBlockWhat::Destination, connection, now);
}

std::optional<MonBlock> BlockList::DestinationAddress(const Address16& address,
                                                      uint64_t now) const {
    SessionFacts connection;
    connection.m_DestAddress = address;
    return Find(MonBlockWhat::Destination, connection, now);
}

std::string BlockSetter(const MonBlock& block) {
    return block.m_ByName.empty() ? block.m_ByFingerprint : block.m_ByName;
}

std::string BlockedText(const MonBlock& block) {
    return "blocked: " + MonBlockText(block.m_What, block.m_Value) + " (block " +
           std::to_string(block.m_Id) + " by " + BlockSetter(block) + ")";
}

RefusedBy RefusedByBlock(MonBlockWhat what) {
    switch (what) {
        case MonBlockWhat::User:
            return RefusedBy::UserBlock;
        case MonBlockWhat::Client:
            return RefusedBy::ClientBlock;
        case MonBlockWhat::Destination:
            break;
    }
    return RefusedBy::DestinationBlock;
}
