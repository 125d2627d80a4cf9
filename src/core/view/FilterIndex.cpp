#include "core/view/FilterIndex.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "core/table/EntryObj.h"
#include "core/view/EntryKeys.h"
#include "core/view/TextFold.h"

namespace {

// How far past its old place a connection is looked for in the last build's
// rows: the table's list keeps its order, and a poll removes few connections
// at any one place. One moved further is simply folded again.
constexpr size_t LookAhead = 16;

std::string_view AddressView(const MonNetAddress& address, char (&text)[MonAddressTextSize]) {
    return std::string_view(text, static_cast<size_t>(Mon_PutAddress(address, text) - text));
}

const std::string& NameOf(const EntryObj& entry, size_t name) {
    const std::string* const names[] = {&entry.m_SourceName, &entry.m_DestName,
                                        &entry.m_UserName,   &entry.m_Service,
                                        &entry.m_ResultText, &entry.m_NextServerName};
    return *names[name];
}

}  // namespace

void FilterIndex::Build(const std::vector<const EntryObj*>& entries) {
    Begin(entries);
    Continue(entries.size());
}

void FilterIndex::Begin(std::vector<const EntryObj*> entries) {
    m_LastBuffer.swap(m_Buffer);
    m_LastNames.swap(m_Names);
    m_LastRows.swap(m_Rows);
    m_Buffer.clear();
    m_Names.clear();
    m_Rows.clear();
    m_Buffer.reserve(entries.size() * 96);
    m_Names.reserve(entries.size() * 80);
    m_Rows.reserve(entries.size());
    m_Pending = std::move(entries);
    m_nNext = 0;
    m_nCursor = 0;
}

bool FilterIndex::Continue(size_t count) {
    const size_t end = std::min(m_Pending.size(), m_nNext + count);
    for (; m_nNext < end; ++m_nNext) {
        const EntryObj* entry = m_Pending[m_nNext];
        const Row* last = LastRowOf(entry, m_nCursor);
        if (last != nullptr && SameValues(*last, *entry)) {
            KeepRow(*last);
        } else {
            AddRow(*entry);
        }
    }
    if (m_nNext < m_Pending.size()) return false;
    m_Pending.clear();
    return true;
}

// The entry's row in the last build, looked for from where the previous one
// was found; null when it is not near (or is new).
const FilterIndex::Row* FilterIndex::LastRowOf(const EntryObj* entry, size_t& cursor) const {
    const size_t end = std::min(m_LastRows.size(), cursor + LookAhead);
    for (size_t at = cursor; at < end; ++at) {
        if (m_LastRows[at].m_pEntry == entry) {
            cursor = at + 1;
            return &m_LastRows[at];
        }
    }
    return nullptr;
}

// The same pointer may by now be another connection; what counts is whether
// the values the texts come from are the same.
bool FilterIndex::SameValues(const Row& last, const EntryObj& entry) const {
    if (!(last.m_SourceAddress == entry.m_Source) || !(last.m_DestAddress == entry.m_Dest) ||
        !(last.m_NextAddress == entry.m_NextServer) || last.m_FailureCode != entry.m_FailureCode ||
        last.m_AuthMethod != entry.m_AuthMethod || last.m_bOpened != (entry.m_bOpened != 0)) {
        return false;
    }
    uint32_t begin = 0;
    for (size_t name = 0; name < NameCount; ++name) {
        const std::string_view was(m_LastNames.data() + last.m_NamesStart + begin,
                                   last.m_NameEnds[name] - begin);
        if (was != NameOf(entry, name)) return false;
        begin = last.m_NameEnds[name];
    }
    return true;
}

void FilterIndex::KeepRow(const Row& last) {
    Row row = last;  // found by its entry, so the same pointer
    row.m_Start = m_Buffer.size();
    m_Buffer.append(m_LastBuffer, last.m_Start, last.m_Ends[FieldCount - 1]);
    row.m_NamesStart = m_Names.size();
    m_Names.append(m_LastNames, last.m_NamesStart, last.m_NameEnds[NameCount - 1]);
    m_Rows.push_back(row);
}

void FilterIndex::AddRow(const EntryObj& entry) {
    Row row;
    row.m_pEntry = &entry;
    row.m_SourceAddress = entry.m_Source;
    row.m_DestAddress = entry.m_Dest;
    row.m_NextAddress = entry.m_NextServer;
    row.m_FailureCode = entry.m_FailureCode;
    row.m_AuthMethod = entry.m_AuthMethod;
    row.m_bOpened = entry.m_bOpened != 0;
    row.m_NamesStart = m_Names.size();
    for (size_t name = 0; name < NameCount; ++name) {
        m_Names.append(NameOf(entry, name));
        row.m_NameEnds[name] = static_cast<uint32_t>(m_Names.size() - row.m_NamesStart);
    }
    row.m_Start = m_Buffer.size();
    // Hosts by name and by address, whichever the grid shows.
    char source[MonAddressTextSize], dest[MonAddressTextSize], next[MonAddressTextSize], code[16];
    AddField(row, Source, entry.m_SourceName, AddressView(row.m_SourceAddress, source));
    AddField(row, Destination, entry.m_DestName, AddressView(row.m_DestAddress, dest));
    AddField(row, User, entry.m_UserName);
    AddField(row, Service, entry.m_Service);
    AddField(row, Auth, row.m_bOpened ? EntryObj::AuthMethodText(entry.m_AuthMethod) : "");
    const std::string_view failure =
        entry.m_FailureCode != 0
            ? std::string_view(code,
                               std::to_chars(code, code + sizeof code, entry.m_FailureCode).ptr)
            : std::string_view();
    AddField(row, Result, entry.m_ResultText, failure);
    AddField(row, Other, entry.m_NextServerName, AddressView(row.m_NextAddress, next));
    m_Rows.push_back(row);
}

void FilterIndex::AddField(Row& row, Field field, std::string_view first, std::string_view second) {
    if (field != Source) m_Buffer.push_back('\n');
    AppendFolded(first, m_Buffer);
    if (!second.empty()) {
        m_Buffer.push_back('\n');
        AppendFolded(second, m_Buffer);
    }
    row.m_Ends[field] = static_cast<uint32_t>(m_Buffer.size() - row.m_Start);
}

std::string_view FilterIndex::AllText(size_t row) const {
    const Row& at = m_Rows[row];
    return std::string_view(m_Buffer).substr(at.m_Start, at.m_Ends[FieldCount - 1]);
}

std::string_view FilterIndex::FieldText(size_t row, Field field) const {
    const Row& at = m_Rows[row];
    const uint32_t begin = field == Source ? 0 : at.m_Ends[field - 1] + 1;
    return std::string_view(m_Buffer).substr(at.m_Start + begin, at.m_Ends[field] - begin);
}

void FilterIndex::SetServer(std::string_view name) {
    m_Server.assign(name);
    m_FoldedServer = Folded(name);
}
