#pragma once
// One pass or block rule of the operator's: it matches a CONNECT when every
// criterion it names matches (any entry of a list will do), and the first
// rule that matches decides.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/Cidr.h"

struct DestRule {
    enum class Match { No, Yes, NeedsAddress };

    bool m_bPass = false;
    int m_Number = 0;             // counted from 1, as the log and the monitor name it
    std::vector<Cidr> m_Clients;  // client address blocks
    std::vector<std::string> m_Users;
    std::vector<Cidr> m_To;            // destination address blocks
    std::vector<std::string> m_Names;  // destination name suffixes, such as "example.com"
    std::vector<std::pair<uint16_t, uint16_t>> m_Ports;

    // `dest` is empty while a name has not been looked up yet: a rule that
    // names destination blocks cannot say then.
    Match Matches(const Address16& client, const std::string& user, const std::string& name,
                  const std::optional<Address16>& dest, uint16_t port) const;
};

// "80", "8000-8999"; nothing when it is not a port or a range of them.
std::optional<std::pair<uint16_t, uint16_t>> ParsePortRange(const std::string& text);
// True when `name` is `suffix` or ends in "." + `suffix` (a leading dot in the suffix is allowed).
bool NameHasSuffix(const std::string& name, const std::string& suffix);
