#include "core/table/ColumnInfo.h"

#include <array>
#include <utility>

namespace {

const std::array<ColumnSpec, Column::Count> g_ColumnSpecs = {{
    {"Source", ColumnKind::Text, false, "workstation-042.example.org"},
    {"Destination", ColumnKind::Text, false, "downloads.example.com"},
    {"User Name", ColumnKind::Text, false, "username"},
    {"Service", ColumnKind::Text, false, "ftp-data"},
    {"Start Time", ColumnKind::Number, false, "00:00:00"},
    {"Duration", ColumnKind::Number, true, "0:00:00:00"},
    {"In Traffic", ColumnKind::Number, true, "123456789"},
    {"Out Traffic", ColumnKind::Number, true, "123456789"},
    {"Total Traffic", ColumnKind::Number, true, "123456789"},
    {"Authentification", ColumnKind::Text, false, "Username/Password"},
    {"Next SOCKS5 Server", ColumnKind::Text, false, "socks-02.example.org"},
    {"Result", ColumnKind::Text, false, "connection refused"},
    {"In Rate", ColumnKind::Number, true, "1234.5 KB/s"},
    {"Out Rate", ColumnKind::Number, true, "1234.5 KB/s"},
    {"Destination Port", ColumnKind::Number, true, "65535"},
}};

const std::array<std::string, Column::Count>& Titles() {
    static const std::array<std::string, Column::Count> titles = [] {
        std::array<std::string, Column::Count> all;
        for (size_t i = 0; i < all.size(); ++i) all[i] = g_ColumnSpecs[i].m_Title;
        return all;
    }();
    return titles;
}

}  // namespace

const int g_nColumns = Column::Count;

const std::string& ColumnTitle(int column) {
    // Anything outside the set gets an empty title rather than a read outside the table.
    static const std::string none;
    if (column < 0 || column >= g_nColumns) return none;
    return Titles()[static_cast<size_t>(column)];
}

const ColumnSpec& ColumnSpecOf(int column) {
    static const ColumnSpec none{"", ColumnKind::Text, false, ""};
    if (column < 0 || column >= g_nColumns) return none;
    return g_ColumnSpecs[static_cast<size_t>(column)];
}

void BuildDefaultColumns(ColumnInfoArray& columns) {
    columns.clear();
    columns.reserve(static_cast<size_t>(g_nColumns));
    for (int i = 0; i < g_nColumns; ++i) {
        ColumnInfo info;
        info.m_Title = ColumnTitle(i);
        info.m_Id = i;
        // The port is there for those who look for it; the grid opens as before.
        info.m_bHidden = i == Column::DestinationPort ? 1 : 0;
        columns.push_back(std::move(info));
    }
}

void CopyColumns(const ColumnInfoArray& from, ColumnInfoArray& to) {
    if (&from == &to) return;
    to = from;
}
