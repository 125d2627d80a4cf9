#pragma once
// The History view's exports as CSV (RFC 4180: commas, CRLF, fields quoted
// when they hold a comma, quote or line break). Texts are written as UTF-8:
// the monitor's texts that are not valid UTF-8 are Latin-1 and converted.
// Times are UTC in RFC 3339, bytes plain numbers.

#include <string>

#include "core/history/HistoryBatch.h"
#include "core/history/HistoryQuery.h"

class HistoryCsv {
public:
    static std::string ConnectionHeader();
    static std::string ConnectionRow(const HistoryConnection& connection);
    static std::string TotalHeader();
    static std::string TotalRow(const std::string& kind, const HistoryTotal& total);
};
