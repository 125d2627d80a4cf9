#pragma once
// The texts a filter searches, folded once per poll rather than at every
// keystroke: for each connection on show, one slice per searchable field in
// one shared buffer. Counting columns (start time, duration, traffic, rates)
// are not in it: numbers in them would match nearly anything a word has, and
// their texts change at every poll.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class EntryObj;

class FilterIndex {
public:
    enum Field { Source, Destination, User, Service, Auth, Result, Other, FieldCount };

    void Build(const std::vector<const EntryObj*>& entries);
    size_t Size() const { return m_Rows.size(); }
    const EntryObj* Entry(size_t row) const { return m_Rows[row].m_pEntry; }
    // Every field of the row, folded, the fields apart by a line break.
    std::string_view AllText(size_t row) const;
    std::string_view FieldText(size_t row, Field field) const;

private:
    struct Row {
        const EntryObj* m_pEntry = nullptr;
        size_t m_Start = 0;
        std::array<uint32_t, FieldCount> m_Ends{};  // from m_Start
    };
    void AddField(Row& row, Field field, std::string_view first, std::string_view second = {});

    std::string m_Buffer;
    std::vector<Row> m_Rows;
};
