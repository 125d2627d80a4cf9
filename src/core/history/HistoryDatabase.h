#pragma once
// One SQLite connection to the history file, and the error every failing
// call of it raises (with SQLite's code, so that callers can tell a full disk
// from a damaged file).

#include <cstdint>
#include <stdexcept>
#include <string>

struct sqlite3;

struct HistoryError : std::runtime_error {
    HistoryError(int code, const std::string& text) : std::runtime_error(text), m_Code(code) {}
    int PrimaryCode() const { return m_Code & 0xFF; }
    int m_Code;
};

class HistoryDatabase {
public:
    enum Mode { ReadWrite, ReadOnly };

    HistoryDatabase() = default;
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    void Open(const std::string& path, Mode mode);  // raises HistoryError
    void Close();
    bool IsOpen() const { return m_pDb != nullptr; }
    sqlite3* Handle() const { return m_pDb; }

    void Exec(const char* sql);  // one or more statements without results
    int64_t IntPragma(const char* name);
    int64_t Changes() const;  // rows the last statement changed
    // The bytes the rows take: pages in use times the page size.
    uint64_t UsedBytes();
    [[noreturn]] void Fail(int code) const;

private:
    sqlite3* m_pDb = nullptr;
};
