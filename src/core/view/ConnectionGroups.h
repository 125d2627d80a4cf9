#pragma once
// A grouped view of the connections on show: one row per user, destination,
// service, client or server with the totals of its connections. It points into the
// table's entries and copies none of them.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/monitor/MonNetAddress.h"

#include "core/view/ConnectionTotals.h"

class EntryObj;

// Server comes last: the values before it are kept in stored sessions.
enum class GroupBy { Connection, User, Destination, Service, Client, Server };

struct ConnectionGroup {
    std::string m_Name;
    ConnectionTotals m_Totals;
};

class ConnectionGroups {
public:
    // Groups these connections (the filter's choice) by `by`; Connection
    // leaves no groups. An entry does not know its server: `servers` names
    // the server of each entry, in the same order (Server needs it; an entry
    // beyond its end counts as of no server).
    void Build(GroupBy by, const std::vector<const EntryObj*>& entries,
               const std::vector<std::string_view>& servers = {});
    // The same in parts, for many connections: Begin takes them, each
    // Continue groups up to `count` more, true once all are in. The entries
    // (and the servers' texts) must stay as they are until then: the groups
    // are found by views of their texts.
    void Begin(GroupBy by, std::vector<const EntryObj*> entries,
               std::vector<std::string_view> servers = {});
    bool Continue(size_t count);
    GroupBy By() const { return m_By; }
    const std::vector<ConnectionGroup>& Groups() const { return m_Groups; }

    // The name of the group a connection belongs to; empty for Server, which
    // the entry cannot tell.
    static std::string GroupName(GroupBy by, const EntryObj& entry);
    // The filter term that chooses exactly the connections of a group.
    static std::string FilterTerm(GroupBy by, const std::string& name);
    // The title of the group name's column ("User").
    static const char* Title(GroupBy by);

private:
    struct AddressKey {
        uint64_t m_High = 0;
        uint64_t m_Low = 0;
        bool operator==(const AddressKey&) const = default;
        bool IsNone() const { return m_High == 0 && m_Low == 0; }
    };
    struct AddressKeyHash {
        size_t operator()(const AddressKey& key) const;
    };
    static AddressKey KeyOf(const MonNetAddress& address);
    void Add(size_t at);

    GroupBy m_By = GroupBy::Connection;
    std::vector<ConnectionGroup> m_Groups;  // in the order of each group's first connection
    // While a build goes on: what it groups, how far it is, and its groups' keys.
    std::vector<const EntryObj*> m_Entries;
    std::vector<std::string_view> m_Servers;
    size_t m_nNext = 0;
    std::unordered_map<std::string_view, size_t> m_ByText;
    std::unordered_map<AddressKey, size_t, AddressKeyHash> m_ByAddress;
};
