#pragma once
// The texts a filter searches, folded once per poll rather than at every
// keystroke: for each connection on show, one slice per searchable field in
// one shared buffer. Counting columns (start time, duration, traffic, rates)
// are not in it: numbers in them would match nearly anything a word has, and
// their texts change at every poll.
//
// A poll changes few of these texts (names, user and service are known soon
// after a connection opens), so a rebuild keeps what each connection had the
// last time, with the values it was folded from, and folds again only the
// connections whose values differ or that are new.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/monitor/MonNetAddress.h"

class EntryObj;

class FilterIndex {
public:
    enum Field { Source, Destination, User, Service, Auth, Result, Other, FieldCount };

    void Build(const std::vector<const EntryObj*>& entries);
    // The same in parts, for many entries: Begin takes them, each Continue
    // folds up to `count` more, true once all are in. The entries must stay
    // as they are until then; the index is searched only once it is whole.
    void Begin(std::vector<const EntryObj*> entries);
    bool Continue(size_t count);
    size_t Size() const { return m_Rows.size(); }
    const EntryObj* Entry(size_t row) const { return m_Rows[row].m_pEntry; }
    // Every field of the row, folded, the fields apart by a line break.
    std::string_view AllText(size_t row) const;
    std::string_view FieldText(size_t row, Field field) const;

    // The server every connection on show belongs to (the live grid shows one
    // session), for server: terms; empty until it is given.
    void SetServer(std::string_view name);
    const std::string& Server() const { return m_Server; }
    const std::string& FoldedServer() const { return m_FoldedServer; }

private:
    // The texts of a connection the folded fields are made from, as it has them.
    enum Name {
        SourceName,
        DestName,
        UserName,
        ServiceName,
        ResultText,
        NextServerName,
        NameCount
    };
    struct Row {
        const EntryObj* m_pEntry = nullptr;
        size_t m_Start = 0;
        std::array<uint32_t, FieldCount> m_Ends{};  // from m_Start
        // What the fields were folded from: the names in m_Names, and the rest.
        size_t m_NamesStart = 0;
        std::array<uint32_t, NameCount> m_NameEnds{};  // from m_NamesStart
        MonNetAddress m_SourceAddress{};
        MonNetAddress m_DestAddress{};
        MonNetAddress m_NextAddress{};
        int32_t m_FailureCode = 0;
        uint8_t m_AuthMethod = 0;
        bool m_bOpened = false;
    };
    void AddRow(const EntryObj& entry);
    void KeepRow(const Row& last);
    const Row* LastRowOf(const EntryObj* entry, size_t& cursor) const;
    bool SameValues(const Row& last, const EntryObj& entry) const;
    void AddField(Row& row, Field field, std::string_view first, std::string_view second = {});

    std::string m_Server;
    std::string m_FoldedServer;
    std::string m_Buffer;
    std::string m_Names;
    std::vector<Row> m_Rows;
    // The previous build's, while a build runs; kept for their room.
    std::string m_LastBuffer;
    std::string m_LastNames;
    std::vector<Row> m_LastRows;
    std::vector<const EntryObj*> m_Pending;  // a build's entries, while it goes on
    size_t m_nNext = 0;
    size_t m_nCursor = 0;
};
