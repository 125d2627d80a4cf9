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
    {"source", HistoryFilter::Source},
    {"server", HistoryFilter::Server},
    {"result", HistoryFilter::Result},
};

// The next word, with quotes removed; empty at the end.
std::string NextWord(const std::string& text, size_t& at) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    std::string word;
    bool quoted = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
            break;
        } else {
            word += c;
        }
    }
    return word;
}

HistoryFilter::Term MakeTerm(std::string word) {
    HistoryFilter::Term term;
    const size_t colon = word.find(':');
    if (colon != std::string::npos && colon > 0) {
        std::string name = word.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const FieldName& field : FieldNames) {
            if (name == field.m_Name) {
                term.m_Field = field.m_Field;
                term.m_Text = word.substr(colon + 1);
                return term;
            }
        }
    }
    term.m_Text = std::move(word);
    return term;
}

}  // namespace

HistoryFilter HistoryFilter::Parse(const std::string& text) {
    HistoryFilter filter;
    size_t at = 0;
    for (std::string word = NextWord(text, at); !word.empty(); word = NextWord(text, at)) {
        Term term = MakeTerm(std::move(word));
        if (!term.m_Text.empty()) filter.m_Terms.push_back(std::move(term));
    }
    return filter;
}
