#pragma once
// The live grid's filter: the terms of a filter line (FilterLine, which
// documents the grammar) matched in memory over a FilterIndex.
// A malformed line keeps every connection and says what is wrong.

#include <string>
#include <string_view>
#include <vector>

#include "core/view/FilterIndex.h"
#include "core/view/FilterLine.h"

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
    static std::string ExactTerm(std::string_view field, std::string_view value) {
        return FilterLine::ExactTerm(field, value);
    }

private:
    using Term = FilterLine::Term;
    bool Meets(const Term& term, const FilterIndex& index, size_t row) const;
    bool MeetsExact(const Term& term, const FilterIndex& index, size_t row) const;

    std::string m_Text;
    std::string m_Error;
    std::vector<Term> m_Terms;
};
