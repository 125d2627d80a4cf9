#include "core/history/HistoryDatabase.h"

#include <sqlite3.h>

#include "core/history/HistoryStatement.h"

HistoryDatabase::~HistoryDatabase() {
    Close();
}

void HistoryDatabase::Open(const std::string& path, Mode mode) {
    Close();
    const int flags =
        mode == ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (result != SQLITE_OK) {
        const std::string text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result);
        sqlite3_close(db);
        throw HistoryError(result, text);
    }
    m_pDb = db;
    sqlite3_extended_result_codes(m_pDb, 1);
    // A reader may meet the writer's checkpoint; it waits a moment rather than fail.
    sqlite3_busy_timeout(m_pDb, 2000);
}

void HistoryDatabase::Close() {
    if (m_pDb == nullptr) return;
    sqlite3_close_v2(m_pDb);
    m_pDb = nullptr;
}

void HistoryDatabase::Exec(const char* sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(m_pDb, sql, nullptr, nullptr, &message);
    if (result == SQLITE_OK) return;
    const std::string text = message != nullptr ? message : sqlite3_errstr(result);
    sqlite3_free(message);
    throw HistoryError(sqlite3_extended_errcode(m_pDb), text);
}

int64_t HistoryDatabase::IntPragma(const char* name) {
    HistoryStatement statement(*this, (std::string("PRAGMA ") + name).c_str());
    return statement.Step() ? statement.Int(0) : 0;
}

int64_t HistoryDatabase::Changes() const {
    return sqlite3_changes64(m_pDb);
}

uint64_t HistoryDatabase::UsedBytes() {
    const int64_t pages = IntPragma("page_count") - IntPragma("freelist_count");
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(IntPragma("page_size"));
}

void HistoryDatabase::Fail(int code) const {
    throw HistoryError(code, m_pDb != nullptr ? sqlite3_errmsg(m_pDb) : sqlite3_errstr(code));
}
