#pragma once
// A grouped view of the connections on show: one row per user, destination,
// service or client with the totals of its connections. It points into the
// table's entries and copies none of them.

#include <string>
#include <vector>

#include "core/view/ConnectionTotals.h"

class EntryObj;

enum class GroupBy { Connection, User, Destination, Service, Client };

struct ConnectionGroup {
    std::string m_Name;
    ConnectionTotals m_Totals;
};

class ConnectionGroups {
public:
    // Groups these connections (the filter's choice) by `by`; Connection
    // leaves no groups.
    void Build(GroupBy by, const std::vector<const EntryObj*>& entries);
    GroupBy By() const { return m_By; }
    const std::vector<ConnectionGroup>& Groups() const { return m_Groups; }

    // The name of the group a connection belongs to.
    static std::string GroupName(GroupBy by, const EntryObj& entry);
    // The filter term that chooses exactly the connections of a group.
    static std::string FilterTerm(GroupBy by, const std::string& name);
    // The title of the group name's column ("User").
    static const char* Title(GroupBy by);

private:
    GroupBy m_By = GroupBy::Connection;
    std::vector<ConnectionGroup> m_Groups;  // in the order of each group's first connection
};
