#pragma once
// A prepared statement: bind, step, read columns; every failure raises
// HistoryError. Texts go in and come out as the bytes they are (UTF-8 or
// Latin-1 alike).

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3_stmt;
class HistoryDatabase;

class HistoryStatement {
public:
    HistoryStatement(HistoryDatabase& db, const char* sql);
    ~HistoryStatement();
    HistoryStatement(const HistoryStatement&) = delete;
    HistoryStatement& operator=(const HistoryStatement&) = delete;

    HistoryStatement& Bind(int index, int64_t value);
    HistoryStatement& Bind(int index, std::string_view text);
    bool Step();  // true: a row is there; false: done
    void Run();   // steps to the end and resets, for writes
    void Reset();
    int64_t Int(int column) const;
    std::string Text(int column) const;

private:
    HistoryDatabase& m_Db;
    sqlite3_stmt* m_pStatement = nullptr;
};
