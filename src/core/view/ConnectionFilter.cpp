#include "core/view/ConnectionFilter.h"

#include <array>
#include <utility>

#include "core/table/EntryObj.h"
#include "core/view/EntryKeys.h"
#include "core/view/TextFold.h"

namespace {

struct FieldName {
    std::string_view m_Name;
    FilterIndex::Field m_Field;
};
constexpr std::array<FieldName, 6> FieldNames = {{
    {"user", FilterIndex::User},
    {"dest", FilterIndex::Destination},
    {"src", FilterIndex::Source},
    {"service", FilterIndex::Service},
    {"auth", FilterIndex::Auth},
    {"result", FilterIndex::Result},
}};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsFieldName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    }
    return true;
}

// One whitespace-separated token with its quoted parts unquoted. Returns
// false for a quote that is not closed.
bool NextToken(std::string_view& line, std::string& token, bool& quoted, bool& leadingQuote) {
    token.clear();
    quoted = false;
    leadingQuote = !line.empty() && line.front() == '"';
    while (!line.empty() && !IsBlank(line.front())) {
        const char c = line.front();
        line.remove_prefix(1);
        if (c != '"') {
            token.push_back(c);
            continue;
        }
        quoted = true;
        for (;;) {
            if (line.empty()) return false;
            char inside = line.front();
            line.remove_prefix(1);
            if (inside == '"') break;
            if (inside == '\\' && !line.empty()) {
                inside = line.front();
                line.remove_prefix(1);
            }
            token.push_back(inside);
        }
    }
    return true;
}

std::string ExactKey(FilterIndex::Field field, const EntryObj& entry) {
    switch (field) {
        case FilterIndex::User:
            return entry.m_UserName;
        case FilterIndex::Destination:
            return DestinationKey(entry);
        case FilterIndex::Source:
            return ClientKey(entry);
        case FilterIndex::Service:
            return entry.m_Service;
        case FilterIndex::Auth:
            return entry.m_bOpened ? EntryObj::AuthMethodName(entry.m_AuthMethod) : std::string();
        default:
            return entry.m_ResultText;
    }
}

}  // namespace

bool ConnectionFilter::SetText(const std::string& text) {
    m_Text = text;
    m_Error.clear();
    m_Terms.clear();
    std::vector<Term> terms;
    std::string_view line = text;
    std::string token;
    for (;;) {
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        if (line.empty()) break;
        bool quoted = false;
        bool leadingQuote = false;
        if (!NextToken(line, token, quoted, leadingQuote)) {
            m_Error = "A quote is not closed";
            return false;
        }
        Term term;
        std::string_view rest = token;
        if (rest.empty()) continue;  // "" asks for nothing
        // What stands inside quotes is a value: no minus, no field name.
        if (!leadingQuote && rest.front() == '-') {
            term.m_bExclude = true;
            rest.remove_prefix(1);
            if (rest.empty() && !quoted) {
                m_Error = "\"-\" needs a term after it";
                return false;
            }
        }
        const size_t colon = leadingQuote ? std::string_view::npos : rest.find(':');
        std::string_view word;
        std::string_view value = rest;
        // "http://..." is a word, not a field.
        if (colon != std::string_view::npos && IsFieldName(rest.substr(0, colon)) &&
            rest.substr(colon + 1, 2) != "//") {
            word = rest.substr(0, colon);
            value = rest.substr(colon + 1);
        }
        if (!ParseTerm(word, value, quoted, term)) return false;
        terms.push_back(std::move(term));
    }
    m_Terms = std::move(terms);
    return true;
}

bool ConnectionFilter::ParseTerm(std::string_view word, std::string_view value, bool quoted,
                                 Term& term) {
    if (word.empty()) {
        term.m_Kind = Anywhere;
        term.m_Value = Folded(value);
        return true;
    }
    const std::string name = Folded(word);
    const FieldName* found = nullptr;
    for (const FieldName& field : FieldNames) {
        if (field.m_Name == name) found = &field;
    }
    if (found == nullptr) {
        m_Error = "Unknown field \"" + std::string(word) +
                  ":\": use user:, dest:, src:, service:, auth: or result:";
        return false;
    }
    term.m_Field = found->m_Field;
    if (!value.empty() && value.front() == '=') {
        term.m_Kind = Exact;
        term.m_Value.assign(value.substr(1));
        return true;
    }
    if (value.empty() && !quoted) {
        m_Error = "\"" + name + ":\" needs a value";
        return false;
    }
    const bool host = found->m_Field == FilterIndex::Source || found->m_Field == FilterIndex::Destination;
    if (host && value.find('/') != std::string_view::npos) {
        if (!Ipv4Network::Parse(value, term.m_Network)) {
            m_Error = "\"" + std::string(value) + "\" is not a network: write it like 10.0.0.0/8";
            return false;
        }
        term.m_Kind = Network;
        return true;
    }
    term.m_Kind = Column;
    term.m_Value = Folded(value);
    return true;
}

bool ConnectionFilter::Meets(const Term& term, const FilterIndex& index, size_t row) const {
    switch (term.m_Kind) {
        case Anywhere:
            return index.AllText(row).find(term.m_Value) != std::string_view::npos;
        case Column:
            return index.FieldText(row, term.m_Field).find(term.m_Value) != std::string_view::npos;
        case Exact:
            return ExactKey(term.m_Field, *index.Entry(row)) == term.m_Value;
        case Network: {
            const EntryObj& entry = *index.Entry(row);
            const bool source = term.m_Field == FilterIndex::Source;
            return term.m_Network.Contains(AddressValue(source ? entry.m_SourceAddr : entry.m_DestAddr));
        }
    }
    return false;
}

bool ConnectionFilter::Matches(const FilterIndex& index, size_t row) const {
    for (const Term& term : m_Terms) {
        if (Meets(term, index, row) == term.m_bExclude) return false;
    }
    return true;
}

std::vector<size_t> ConnectionFilter::Select(const FilterIndex& index) const {
    std::vector<size_t> rows;
    rows.reserve(index.Size());
    for (size_t row = 0; row < index.Size(); ++row) {
        if (Matches(index, row)) rows.push_back(row);
    }
    return rows;
}

std::string ConnectionFilter::ExactTerm(std::string_view field, std::string_view value) {
    std::string term(field);
    term += ":=\"";
    for (char c : value) {
        if (c == '"' || c == '\\') term.push_back('\\');
        term.push_back(c);
    }
    term.push_back('"');
    return term;
}
