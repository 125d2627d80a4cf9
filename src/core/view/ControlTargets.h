#pragma once
// What the chosen rows of a grid give to act on: the open connections to
// close, and the distinct users, clients and destinations to block, each in
// the order the rows show them. A client is its address (its name when the
// monitor sent none); a destination the name the client asked for, else its
// address.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class EntryObj;

struct ControlTargets {
    std::vector<std::pair<uint32_t, uint32_t>> m_Open;  // ids
    std::vector<std::string> m_OpenText;                // of each: "alice 10.0.0.7 to example.com"
    std::vector<std::string> m_Users, m_Clients, m_Destinations;

    static ControlTargets Of(const std::vector<const EntryObj*>& entries);
    static std::string ClientOf(const EntryObj& entry);
    static std::string DestinationOf(const EntryObj& entry);
};
