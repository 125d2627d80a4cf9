#pragma once
// Which finished connections the History grid shows: the terms of a filter
// line (FilterLine, which documents the grammar) as SQL over `connections c`.
// A malformed line keeps every connection and says why.

#include <functional>
#include <string>
#include <vector>

#include "core/view/FilterLine.h"

class HistoryDatabase;

struct HistoryFilter {
    std::vector<FilterLine::Term> m_Terms;
    std::string m_Error;  // empty unless the line was malformed

    static HistoryFilter Parse(const std::string& text);
    bool IsEmpty() const { return m_Terms.empty(); }

    // Binds a text to the statement and gives its placeholder ("?4").
    using Param = std::function<std::string(std::string)>;
    // Every term as " AND (...)", or " AND NOT (...)" for an excluded one.
    std::string Sql(const Param& param) const;
    // The SQL functions the terms call, on a connection that reads the history.
    static void AddFunctions(HistoryDatabase& db);
};
