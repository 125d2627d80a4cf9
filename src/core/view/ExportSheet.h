#pragma once
// Rows on show written to a file: a table of typed cells, written as CSV
// (RFC 4180: a header row of the column titles, every field quoted, CRLF,
// UTF-8) or as JSON (an array of objects keyed by stable machine names such
// as "bytes_in", numbers raw, times in RFC 3339). A connection's JSON object
// also holds its ports and end time, so that it can be matched with the
// proxy's log line.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/view/ConnectionGroups.h"

class EntryObj;

struct ExportCell {
    enum Kind { Empty, Text, Integer, Real, Time };
    Kind m_Kind = Empty;
    std::string m_Text;    // Text: as the monitor sent it (UTF-8, else Latin-1)
    uint64_t m_Integer = 0;
    double m_Real = 0;
    int64_t m_Time = 0;    // Time: seconds since 1970-01-01 UTC
};

class ExportSheet {
public:
    // Connections with these columns (ids of the column set, in the order
    // shown); hosts as the grid shows them, times measured up to `now`.
    static ExportSheet FromConnections(const std::vector<const EntryObj*>& entries,
                                       const std::vector<int>& columns, int32_t hostForm,
                                       int64_t now);
    // More connections, after the rows there are, in the same columns.
    void AddConnections(const std::vector<const EntryObj*>& entries,
                        const std::vector<int>& columns, int32_t hostForm, int64_t now);
    static ExportSheet FromGroups(const ConnectionGroups& groups);

    // Told the rows written so far after each row; false stops the writing.
    using GoOn = std::function<bool(size_t rowsWritten)>;
    // False when goOn stopped it.
    bool WriteCsv(std::ostream& out, const GoOn& goOn = {}) const;
    bool WriteJson(std::ostream& out, const GoOn& goOn = {}) const;

    std::vector<std::string> m_Titles;  // the CSV's header: the first cells of each row
    std::vector<std::string> m_Keys;    // the JSON's names, one for each cell of a row
    std::vector<std::vector<ExportCell>> m_Rows;
};
