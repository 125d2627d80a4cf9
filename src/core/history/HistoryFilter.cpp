#include "core/history/HistoryFilter.h"

#include <cctype>
#include <utility>

namespace {

struct FieldName {
    const char* m_Name;
    HistoryFilter::Field m_Field;
};

constexpr FieldName FieldNames[] = {
    {"user", HistoryFilter::User},
    {"dest", HistoryFilter::Destination},
    {"destination", HistoryFilter::Destination},
    {"service", HistoryFilter::Service},
    {"src", HistoryFilter::Source},
    {"source", HistoryFilter::Source},
    {"server", HistoryFilter::Server},
    {"result", HistoryFilter::Result},
    {"auth", HistoryFilter::Auth},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The next blank-separated word with its quoted parts unquoted; false for a
// quote left open.
bool NextWord(const std::string& text, size_t& at, std::string& word) {
    word.clear();
    while (at < text.size() && IsBlank(text[at])) ++at;
    while (at < text.size() && !IsBlank(text[at])) {
        const char c = text[at++];
        if (c != '"') {
            word += c;
            continue;
        }
        for (;;) {
            if (at >= text.size()) return false;
            char inside = text[at++];
            if (inside == '"') break;
            if (inside == '\\' && at < text.size()) inside = text[at++];
            word += inside;
        }
    }
    return true;
}

HistoryFilter::Term MakeTerm(const std::string& line) {
    HistoryFilter::Term term;
    term.m_bExclude = line.size() > 1 && line[0] == '-';
    const std::string word = term.m_bExclude ? line.substr(1) : line;
    const size_t colon = word.find(':');
    if (colon != std::string::npos && colon > 0) {
        std::string name = word.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const FieldName& field : FieldNames) {
            if (name != field.m_Name) continue;
            term.m_Field = field.m_Field;
            term.m_Text = word.substr(colon + 1);
            if (!term.m_Text.empty() && term.m_Text[0] == '=') {
                term.m_bExact = true;
                term.m_Text.erase(0, 1);
            }
            return term;
        }
    }
    term.m_Text = word;
    return term;
}

}  // namespace

HistoryFilter HistoryFilter::Parse(const std::string& text) {
    HistoryFilter filter;
    size_t at = 0;
    std::string word;
    while (at < text.size()) {
        if (!NextWord(text, at, word)) {
            filter.m_Terms.clear();
            filter.m_Error = "a quote is not closed";
            return filter;
        }
        if (word.empty()) continue;
        Term term = MakeTerm(word);
        // "user:=" (exactly empty) is a term; "user:" alone is not.
        if (!term.m_Text.empty() || term.m_bExact) filter.m_Terms.push_back(std::move(term));
    }
    return filter;
}
