#pragma once
// The grid's filter: a line of terms, all of which a connection must meet.
//   word            any searchable column holds it (case does not matter)
//   user:NAME       one column holds it; also dest:, src:, service:, auth:, result:
//   dest:10.0.0.0/8 src: and dest: also take an IPv4 network
//   user:=NAME      the column is exactly NAME (what a group's row stands for)
//   -term           the connection must not meet the term
//   "two words"     quotes keep blanks (and \" \\) inside one value
// A malformed line keeps every connection and says what is wrong.

#include <string>
#include <string_view>
#include <vector>

#include "core/view/FilterIndex.h"
#include "core/view/Ipv4Network.h"

class ConnectionFilter {
public:
    // Takes a new line; false when it is malformed (Error() says why).
    bool SetText(const std::string& text);
    const std::string& Text() const { return m_Text; }
    const std::string& Error() const { return m_Error; }
    // No term to apply (an empty or a malformed line): every connection is kept.
    bool KeepsAll() const { return m_Terms.empty(); }
    bool Matches(const FilterIndex& index, size_t row) const;
    // The rows of the index that match, in its order.
    std::vector<size_t> Select(const FilterIndex& index) const;

    // A term that chooses exactly the connections whose field is this value
    // ("user:=\"a b\""), quoted as the parser reads it back.
    static std::string ExactTerm(std::string_view field, std::string_view value);

private:
    enum Kind { Anywhere, Column, Exact, Network };
    struct Term {
        Kind m_Kind = Anywhere;
        FilterIndex::Field m_Field = FilterIndex::Other;
        bool m_bExclude = false;
        std::string m_Value;  // folded, except for Exact
        Ipv4Network m_Network;
    };
    bool ParseTerm(std::string_view word, std::string_view value, bool quoted, Term& term);
    bool Meets(const Term& term, const FilterIndex& index, size_t row) const;

    std::string m_Text;
    std::string m_Error;
    std::vector<Term> m_Terms;
};
