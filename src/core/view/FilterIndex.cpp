#include "core/view/FilterIndex.h"

#include <string>

#include "core/table/EntryObj.h"
#include "core/view/EntryKeys.h"
#include "core/view/TextFold.h"

void FilterIndex::Build(const std::vector<const EntryObj*>& entries) {
    m_Buffer.clear();
    m_Rows.clear();
    m_Rows.reserve(entries.size());
    for (const EntryObj* entry : entries) {
        Row row;
        row.m_pEntry = entry;
        row.m_Start = m_Buffer.size();
        // Hosts by name and by address, whichever the grid shows.
        AddField(row, Source, entry->m_SourceName, AddressText(entry->m_SourceAddr));
        AddField(row, Destination, entry->m_DestName, AddressText(entry->m_DestAddr));
        AddField(row, User, entry->m_UserName);
        AddField(row, Service, entry->m_Service);
        AddField(row, Auth, entry->m_bOpened ? EntryObj::AuthMethodName(entry->m_AuthMethod) : "");
        const std::string code = entry->m_FailureCode != 0 ? std::to_string(entry->m_FailureCode) : "";
        AddField(row, Result, entry->m_ResultText, code);
        AddField(row, Other, entry->m_NextServerName, AddressText(entry->m_NextServerAddr));
        m_Rows.push_back(row);
    }
}

void FilterIndex::AddField(Row& row, Field field, std::string_view first,
                           std::string_view second) {
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
