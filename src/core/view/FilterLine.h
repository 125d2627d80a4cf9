#pragma once
// The filter line, read the same way by the live grid (ConnectionFilter,
// over a FilterIndex) and by the History grid (HistoryFilter, as SQL): a line
// of terms, all of which a connection must meet.
//   word            any text of the connection holds it (case does not matter)
//   user:NAME       one field holds it; also dest: (destination:), src: (source:),
//                   service:, auth:, result:, server:
//   dest:10.0.0.0/8 src: and dest: also take a network of either family
//   src:2001:db8::/32 (or one IPv6 address, which is its network of one)
//   dport:443       the destination's port is 443; also sport: (the client's
//   dport:8000-8100 port) and a range of ports, both ends included
//   user:=NAME      the field is exactly NAME (what a group's row stands for)
//   -term           the connection must not meet the term
//   "two words"     quotes keep blanks (and \" \\) inside one value
// A malformed line keeps every connection and says what is wrong; so does a
// line with a term its back end cannot answer (History keeps no ports).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/view/IpNetwork.h"

class FilterLine {
public:
    enum Field {
        Anywhere,
        User,
        Destination,
        Source,
        Service,
        Auth,
        Result,
        Server,
        SourcePort,
        DestinationPort
    };
    enum Match { Contains, Exact, Network, PortRange };
    struct Term {
        Field m_Field = Anywhere;
        Match m_Match = Contains;
        bool m_bExclude = false;
        std::string m_Value;  // folded for Contains, as typed for Exact and Network
        IpNetwork m_Network;
        uint16_t m_PortLow = 0;  // PortRange: the ports from low to high
        uint16_t m_PortHigh = 0;
    };

    // The terms of the line; false when it is malformed, with no terms and
    // the reason in `error`.
    static bool Parse(std::string_view text, std::vector<Term>& terms, std::string& error);

    // A term that chooses exactly the connections whose field is this value
    // ("user:=\"a b\""), quoted as the parser reads it back.
    static std::string ExactTerm(std::string_view field, std::string_view value);

private:
    static bool ParseToken(std::string_view token, bool quoted, bool leadingQuote, Term& term,
                           std::string& error);
    static bool ParseValue(std::string_view word, std::string_view value, bool quoted, Term& term,
                           std::string& error);
    static bool ParsePorts(std::string_view name, std::string_view value, Term& term,
                           std::string& error);
};
