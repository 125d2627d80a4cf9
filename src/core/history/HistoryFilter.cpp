#include "core/history/HistoryFilter.h"

#include <sqlite3.h>

#include <string_view>

#include "core/history/HistoryDatabase.h"
#include "core/table/EntryObj.h"
#include "core/view/IpNetwork.h"
#include "core/view/TextFold.h"

namespace {

using Term = FilterLine::Term;

// The texts of a connection's hosts and names, as the live grid searches them.
const char* const AnyColumns[] = {"c.src_name", "c.src_addr", "c.dst_name",    "c.dst_addr",
                                  "c.user",     "c.service",  "c.result_text", "c.next_server"};

std::string_view ValueText(sqlite3_value* value) {
    const unsigned char* text = sqlite3_value_text(value);
    if (text == nullptr) return {};
    return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value))};
}

// filter_has(text, folded): the text, folded as the live grid folds, holds the other.
void Has(sqlite3_context* context, int, sqlite3_value** values) {
    const std::string_view needle = ValueText(values[1]);
    const bool found = Folded(ValueText(values[0])).find(needle) != std::string::npos;
    sqlite3_result_int(context, found ? 1 : 0);
}

// filter_in_network(address, network): an address as the history keeps it
// ("10.1.2.3", "2001:db8::1") lies in "10.0.0.0/8" or "2001:db8::/32".
void InNetwork(sqlite3_context* context, int, sqlite3_value** values) {
    MonNetAddress address{};
    IpNetwork network;
    const bool in = Mon_ParseAddress(ValueText(values[0]), address) &&
                    IpNetwork::Parse(ValueText(values[1]), network) && network.Contains(address);
    sqlite3_result_int(context, in ? 1 : 0);
}

// The method bytes whose names hold the folded text (or are it, for an exact term).
std::string AuthMethods(const Term& term) {
    std::string list;
    for (int method = 0; method < 256; ++method) {
        const std::string& name = EntryObj::AuthMethodText(static_cast<uint8_t>(method));
        if (term.m_Match == FilterLine::Exact
                ? name == term.m_Value
                : Folded(name).find(term.m_Value) != std::string::npos) {
            list += (list.empty() ? "" : ",") + std::to_string(method);
        }
    }
    return "c.auth IN (" + list + ")";
}

std::string AnyOf(const std::vector<const char*>& columns, const std::string& names) {
    std::string sql;
    for (size_t i = 0; i < columns.size(); ++i)
        sql += std::string(i ? " OR " : "") + columns[i] + " IN " + names;
    return sql;
}

std::vector<const char*> ColumnsOf(FilterLine::Field field) {
    switch (field) {
        case FilterLine::User:
            return {"c.user"};
        case FilterLine::Destination:
            return {"c.dst_name", "c.dst_addr"};
        case FilterLine::Source:
            return {"c.src_name", "c.src_addr"};
        case FilterLine::Service:
            return {"c.service"};
        case FilterLine::Server:
            return {"c.server"};
        case FilterLine::Result:
            return {"c.result_text"};
        default:
            return {std::begin(AnyColumns), std::end(AnyColumns)};
    }
}

// The matching names are few and looked up once; the rows are then matched by number.
std::string ContainsClause(const Term& term, const HistoryFilter::Param& param) {
    const std::string value = param(term.m_Value);
    std::string sql = AnyOf(ColumnsOf(term.m_Field),
                            "(SELECT id FROM names WHERE filter_has(text, " + value + "))");
    // A failure's code is searched with its text.
    if (term.m_Field == FilterLine::Result || term.m_Field == FilterLine::Anywhere)
        sql += " OR (c.result_code <> 0 AND filter_has(c.result_code, " + value + "))";
    if (term.m_Field == FilterLine::Anywhere) sql += " OR " + AuthMethods(term);
    return sql;
}

// A destination is its host name, or its address when it has none; a client
// its address, or its name when no address is known.
std::string ExactClause(const Term& term, const HistoryFilter::Param& param) {
    const std::string is = "(SELECT id FROM names WHERE text = " + param(term.m_Value) + ")";
    const std::string none = "(SELECT id FROM names WHERE text = '')";
    switch (term.m_Field) {
        case FilterLine::Destination:
            return "c.dst_name IN " + is + " OR (c.dst_name IN " + none + " AND c.dst_addr IN " +
                   is + ")";
        case FilterLine::Source:
            return "c.src_addr IN " + is + " OR (c.src_addr IN " + none + " AND c.src_name IN " +
                   is + ")";
        default:
            return AnyOf(ColumnsOf(term.m_Field), is);
    }
}

std::string NetworkClause(const Term& term, const HistoryFilter::Param& param) {
    const char* column = term.m_Field == FilterLine::Source ? "c.src_addr" : "c.dst_addr";
    return std::string(column) + " IN (SELECT id FROM names WHERE filter_in_network(text, " +
           param(term.m_Value) + "))";
}

std::string TermClause(const Term& term, const HistoryFilter::Param& param) {
    if (term.m_Field == FilterLine::Auth) return AuthMethods(term);
    switch (term.m_Match) {
        case FilterLine::Exact:
            return ExactClause(term, param);
        case FilterLine::Network:
            return NetworkClause(term, param);
        default:
            return ContainsClause(term, param);
    }
}

}  // namespace

HistoryFilter HistoryFilter::Parse(const std::string& text) {
    HistoryFilter filter;
    FilterLine::Parse(text, filter.m_Terms, filter.m_Error);
    // The history keeps addresses without their ports; a port term is one
    // the SQL cannot answer, and the line is refused as a malformed one is.
    for (const Term& term : filter.m_Terms) {
        if (term.m_Match == FilterLine::PortRange) {
            filter.m_Terms.clear();
            filter.m_Error = "History cannot filter by port";
            break;
        }
    }
    return filter;
}

std::string HistoryFilter::Sql(const Param& param) const {
    std::string sql;
    for (const Term& term : m_Terms)
        sql +=
            std::string(term.m_bExclude ? " AND NOT (" : " AND (") + TermClause(term, param) + ")";
    return sql;
}

void HistoryFilter::AddFunctions(HistoryDatabase& db) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    int code = sqlite3_create_function_v2(db.Handle(), "filter_has", 2, flags, nullptr, Has,
                                          nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_create_function_v2(db.Handle(), "filter_in_network", 2, flags, nullptr,
                                          InNetwork, nullptr, nullptr, nullptr);
    }
    if (code != SQLITE_OK) db.Fail(code);
}
