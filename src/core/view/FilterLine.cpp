#include "core/view/FilterLine.h"

#include <array>
#include <utility>

#include "core/view/TextFold.h"

namespace {

struct FieldName {
    std::string_view m_Name;
    FilterLine::Field m_Field;
};
constexpr std::array<FieldName, 11> FieldNames = {{
    {"user", FilterLine::User},
    {"dest", FilterLine::Destination},
    {"destination", FilterLine::Destination},
    {"src", FilterLine::Source},
    {"source", FilterLine::Source},
    {"service", FilterLine::Service},
    {"auth", FilterLine::Auth},
    {"result", FilterLine::Result},
    {"server", FilterLine::Server},
    {"sport", FilterLine::SourcePort},
    {"dport", FilterLine::DestinationPort},
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

// A port of 0 to 65535, digits only.
bool ParsePort(std::string_view text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool FilterLine::Parse(std::string_view line, std::vector<Term>& terms, std::string& error) {
    terms.clear();
    error.clear();
    std::vector<Term> parsed;
    std::string token;
    for (;;) {
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        if (line.empty()) break;
        bool quoted = false;
        bool leadingQuote = false;
        if (!NextToken(line, token, quoted, leadingQuote)) {
            error = "A quote is not closed";
            return false;
        }
        if (token.empty()) continue;  // "" asks for nothing
        Term term;
        if (!ParseToken(token, quoted, leadingQuote, term, error)) return false;
        parsed.push_back(std::move(term));
    }
    terms = std::move(parsed);
    return true;
}

bool FilterLine::ParseToken(std::string_view rest, bool quoted, bool leadingQuote, Term& term,
                            std::string& error) {
    // What stands inside quotes is a value: no minus, no field name.
    if (!leadingQuote && rest.front() == '-') {
        term.m_bExclude = true;
        rest.remove_prefix(1);
        if (rest.empty() && !quoted) {
            error = "\"-\" needs a term after it";
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
    return ParseValue(word, value, quoted, term, error);
}

bool FilterLine::ParseValue(std::string_view word, std::string_view value, bool quoted, Term& term,
                            std::string& error) {
    if (word.empty()) {
        term.m_Field = Anywhere;
        term.m_Value = Folded(value);
        return true;
    }
    const std::string name = Folded(word);
    const FieldName* found = nullptr;
    for (const FieldName& field : FieldNames) {
        if (field.m_Name == name) found = &field;
    }
    if (found == nullptr) {
        error = "Unknown field \"" + std::string(word) +
                ":\": use user:, dest:, src:, service:, auth:, result:, server:, sport: or dport:";
        return false;
    }
    term.m_Field = found->m_Field;
    if (value.empty() && !quoted) {
        error = "\"" + name + ":\" needs a value";
        return false;
    }
    if (term.m_Field == SourcePort || term.m_Field == DestinationPort)
        return ParsePorts(name, value, term, error);
    if (!value.empty() && value.front() == '=') {
        term.m_Match = Exact;
        term.m_Value.assign(value.substr(1));
        return true;
    }
    const bool host = found->m_Field == Source || found->m_Field == Destination;
    // An IPv6 address has colons, which no host name has: it is taken as
    // itself, not as a text that longer addresses also hold.
    const bool ipv6 = value.find(':') != std::string_view::npos;
    if (host && (value.find('/') != std::string_view::npos || ipv6)) {
        if (!IpNetwork::Parse(value, term.m_Network)) {
            error = "\"" + std::string(value) + "\" is not a network: write it like " +
                    (ipv6 ? "2001:db8::/32" : "10.0.0.0/8");
            return false;
        }
        term.m_Match = Network;
        term.m_Value.assign(value);
        return true;
    }
    term.m_Match = Contains;
    term.m_Value = Folded(value);
    return true;
}

// "443", "=443" or "8000-8100": a port is a number, so "=" changes nothing.
bool FilterLine::ParsePorts(std::string_view name, std::string_view value, Term& term,
                            std::string& error) {
    if (!value.empty() && value.front() == '=') value.remove_prefix(1);
    const size_t dash = value.find('-');
    const std::string_view low = value.substr(0, dash);
    const std::string_view high = dash == std::string_view::npos ? low : value.substr(dash + 1);
    if (!ParsePort(low, term.m_PortLow) || !ParsePort(high, term.m_PortHigh) ||
        term.m_PortLow > term.m_PortHigh) {
        error = "\"" + std::string(name) + ":" + std::string(value) +
                "\" is not a port: write it like 443 or 8000-8100";
        return false;
    }
    term.m_Match = PortRange;
    term.m_Value.assign(value);
    return true;
}

std::string FilterLine::ExactTerm(std::string_view field, std::string_view value) {
    std::string term(field);
    term += ":=\"";
    for (char c : value) {
        if (c == '"' || c == '\\') term.push_back('\\');
        term.push_back(c);
    }
    term.push_back('"');
    return term;
}
