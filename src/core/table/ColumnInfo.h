#pragma once
// The grid's column set, declared once: each column's number, title, kind of
// value and typical text; and the per-view column descriptors.

#include <cstdint>
#include <string>
#include <vector>

struct ColumnInfo {
    std::string m_Title;
    int32_t m_Id = -1;
    int32_t m_bHidden = 0;
    int32_t m_bAscending = 0;
};
using ColumnInfoArray = std::vector<ColumnInfo>;

// The columns by number. A number is the column's place in the set and is
// kept in documents and settings, so new columns are only ever added at the end.
namespace Column {
enum Id : int {
    Source = 0,
    Destination = 1,
    UserName = 2,
    Service = 3,
    StartTime = 4,
    Duration = 5,
    InTraffic = 6,
    OutTraffic = 7,
    TotalTraffic = 8,
    Authentification = 9,
    NextServer = 10,
    Result = 11,
    InRate = 12,
    OutRate = 13,
    DestinationPort = 14,  // hidden until the user shows it
    Count                  // the number of columns, g_nColumns
};
}  // namespace Column

// How a column's texts sort: as text, or by the number behind them (EntryObj::ColumnNumber).
enum class ColumnKind { Text, Number };

struct ColumnSpec {
    const char* m_Title;
    ColumnKind m_Kind;
    bool m_bAlignRight;    // amounts are right-aligned so that their digits line up
    const char* m_Sample;  // a typical text, so that a new grid opens wide enough to read
};

extern const int g_nColumns;                 // Column::Count
const std::string& ColumnTitle(int column);  // g_ColumnTitles[column]
// The column's description; a number outside the set gets an empty text column.
const ColumnSpec& ColumnSpecOf(int column);
void BuildDefaultColumns(ColumnInfoArray& columns);
void CopyColumns(const ColumnInfoArray& from, ColumnInfoArray& to);
