#pragma once
// Which finished connections the History grid shows: words such as
// `user:alice dest:example.org service:www timeout`. A word with a field
// name matches that field; any other word matches any text of the
// connection. All words must match; matching ignores ASCII case and finds
// the word anywhere in the text. A value with spaces goes in double quotes.

#include <string>
#include <vector>

struct HistoryFilter {
    enum Field { Any, User, Destination, Service, Source, Server, Result };
    struct Term {
        Field m_Field = Any;
        std::string m_Text;
    };
    std::vector<Term> m_Terms;

    static HistoryFilter Parse(const std::string& text);
    bool IsEmpty() const { return m_Terms.empty(); }
};
