#include "core/view/FilterIndex.h"

#include <charconv>
#include <string>

#include "core/table/EntryObj.h"
#include "core/view/EntryKeys.h"
#include "core/view/TextFold.h"

namespace {

std::string_view Address(const uint8_t (&socketAddress)[16], char (&text)[16]) {
    const uint32_t address = AddressValue(socketAddress);
    if (address == 0) return {};
    return std::string_view(text, static_cast<size_t>(PutAddress(address, text) - text));
}

}  // namespace

void FilterIndex::Build(const std::vector<const EntryObj*>& entries) {
    m_Buffer.clear();
    m_Rows.clear();
    m_Buffer.reserve(entries.size() * 96);
    m_Rows.reserve(entries.size());
    for (const EntryObj* entry : entries) {
        Row row;
        row.m_pEntry = entry;
        row.m_Start = m_Buffer.size();
        // Hosts by name and by address, whichever the grid shows.
        char source[16], dest[16], next[16], code[16];
        AddField(row, Source, entry->m_SourceName, Address(entry->m_SourceAddr, source));
        AddField(row, Destination, entry->m_DestName, Address(entry->m_DestAddr, dest));
        AddField(row, User, entry->m_UserName);
        AddField(row, Service, entry->m_Service);
        AddField(row, Auth, entry->m_bOpened ? EntryObj::AuthMethodText(entry->m_AuthMethod) : "");
        const std::string_view failure =
            entry->m_FailureCode != 0
                ? std::string_view(code, std::to_chars(code, code + sizeof code, entry->m_FailureCode).ptr)
                : std::string_view();
        AddField(row, Result, entry->m_ResultText, failure);
        AddField(row, Other, entry->m_NextServerName, Address(entry->m_NextServerAddr, next));
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
