#include "core/view/ConnectionFilter.h"

#include "core/table/EntryObj.h"
#include "core/view/EntryKeys.h"

namespace {

FilterIndex::Field IndexField(FilterLine::Field field) {
    switch (field) {
        case FilterLine::User:
            return FilterIndex::User;
        case FilterLine::Destination:
            return FilterIndex::Destination;
        case FilterLine::Source:
            return FilterIndex::Source;
        case FilterLine::Service:
            return FilterIndex::Service;
        case FilterLine::Auth:
            return FilterIndex::Auth;
        default:
            return FilterIndex::Result;
    }
}

std::string ExactKey(FilterLine::Field field, const EntryObj& entry) {
    switch (field) {
        case FilterLine::User:
            return entry.m_UserName;
        case FilterLine::Destination:
            return DestinationKey(entry);
        case FilterLine::Source:
            return ClientKey(entry);
        case FilterLine::Service:
            return entry.m_Service;
        case FilterLine::Auth:
            return entry.m_bOpened ? EntryObj::AuthMethodName(entry.m_AuthMethod) : std::string();
        default:
            return entry.m_ResultText;
    }
}

}  // namespace

bool ConnectionFilter::SetText(const std::string& text) {
    m_Text = text;
    return FilterLine::Parse(text, m_Terms, m_Error);
}

bool ConnectionFilter::Meets(const Term& term, const FilterIndex& index, size_t row) const {
    if (term.m_Match == FilterLine::Exact) return MeetsExact(term, index, row);
    if (term.m_Match == FilterLine::PortRange) {
        const EntryObj& entry = *index.Entry(row);
        const uint16_t port = EntryObj::PortOf(
            term.m_Field == FilterLine::SourcePort ? entry.m_Source : entry.m_Dest);
        return port >= term.m_PortLow && port <= term.m_PortHigh;
    }
    if (term.m_Match == FilterLine::Network) {
        const EntryObj& entry = *index.Entry(row);
        const bool source = term.m_Field == FilterLine::Source;
        return term.m_Network.Contains(source ? entry.m_Source : entry.m_Dest);
    }
    std::string_view text;
    if (term.m_Field == FilterLine::Anywhere) {
        text = index.AllText(row);
    } else if (term.m_Field == FilterLine::Server) {
        text = index.FoldedServer();
    } else {
        text = index.FieldText(row, IndexField(term.m_Field));
    }
    return text.find(term.m_Value) != std::string_view::npos;
}

bool ConnectionFilter::MeetsExact(const Term& term, const FilterIndex& index, size_t row) const {
    if (term.m_Field == FilterLine::Server) return index.Server() == term.m_Value;
    return ExactKey(term.m_Field, *index.Entry(row)) == term.m_Value;
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
