#pragma once
// Which finished connections the History grid shows: a line of terms, all of
// which a connection must meet, written as in the live grid's filter:
//   word            any text of the connection holds it (ASCII case does not matter)
//   user:NAME       that field holds it; also dest:, src: (source:), service:,
//                   server:, auth:, result:
//   user:=NAME      the field is exactly NAME
//   -term           the connection must not meet the term
//   "two words"     quotes keep blanks (and \" \\) inside one value
// A malformed line (a quote left open) keeps every connection and says why.

#include <string>
#include <vector>

struct HistoryFilter {
    enum Field { Any, User, Destination, Service, Source, Server, Result, Auth };
    struct Term {
        Field m_Field = Any;
        std::string m_Text;
        bool m_bExact = false;
        bool m_bExclude = false;
    };
    std::vector<Term> m_Terms;
    std::string m_Error;  // empty unless the line was malformed

    static HistoryFilter Parse(const std::string& text);
    bool IsEmpty() const { return m_Terms.empty(); }
};
