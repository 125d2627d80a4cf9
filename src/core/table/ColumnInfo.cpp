#include "core/table/ColumnInfo.h"

#include <array>
#include <utility>

namespace {

const std::array<std::string, 11> g_ColumnTitles = {
    "Source",        "Destination",      "User Name",          "Service",
    "Start Time",    "Duration",         "In Traffic",         "Out Traffic",
    "Total Traffic", "Authentification", "Next SOCKS5 Server",
};

}  // namespace

const int g_nColumns = static_cast<int>(g_ColumnTitles.size());

const std::string& ColumnTitle(int column) {
    // The grid only asks for 0..10; anything else gets an empty title rather
    // than a read outside the table.
    static const std::string none;
    if (column < 0 || column >= g_nColumns) return none;
    return g_ColumnTitles[static_cast<size_t>(column)];
}

void BuildDefaultColumns(ColumnInfoArray& columns) {
    columns.clear();
    columns.reserve(static_cast<size_t>(g_nColumns));
    for (int i = 0; i < g_nColumns; ++i) {
        ColumnInfo info;
        info.m_Title = ColumnTitle(i);
        info.m_Id = i;
        columns.push_back(std::move(info));
    }
}

void CopyColumns(const ColumnInfoArray& from, ColumnInfoArray& to) {
    if (&from == &to) return;
    to = from;
}
