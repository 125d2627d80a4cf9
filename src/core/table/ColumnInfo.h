#pragma once
// The fixed set of eleven grid columns and the per-view column descriptors.

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

extern const int g_nColumns;                 // 11
const std::string& ColumnTitle(int column);  // g_ColumnTitles[column]
void BuildDefaultColumns(ColumnInfoArray& columns);
void CopyColumns(const ColumnInfoArray& from, ColumnInfoArray& to);
