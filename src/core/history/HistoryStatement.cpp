#include "core/history/HistoryStatement.h"

#include <sqlite3.h>

#include "core/history/HistoryDatabase.h"

HistoryStatement::HistoryStatement(HistoryDatabase& db, const char* sql) : m_Db(db) {
    const int result = sqlite3_prepare_v2(db.Handle(), sql, -1, &m_pStatement, nullptr);
    if (result != SQLITE_OK) db.Fail(result);
}

HistoryStatement::~HistoryStatement() {
    sqlite3_finalize(m_pStatement);
}

HistoryStatement& HistoryStatement::Bind(int index, int64_t value) {
    const int result = sqlite3_bind_int64(m_pStatement, index, value);
    if (result != SQLITE_OK) m_Db.Fail(result);
    return *this;
}

HistoryStatement& HistoryStatement::Bind(int index, std::string_view text) {
    const int result = sqlite3_bind_text(m_pStatement, index, text.data(),
                                         static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (result != SQLITE_OK) m_Db.Fail(result);
    return *this;
}

bool HistoryStatement::Step() {
    const int result = sqlite3_step(m_pStatement);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    const int code = sqlite3_extended_errcode(m_Db.Handle());
    sqlite3_reset(m_pStatement);
    m_Db.Fail(code);
}

void HistoryStatement::Run() {
    while (Step()) {
    }
    Reset();
}

void HistoryStatement::Reset() {
    sqlite3_reset(m_pStatement);
    sqlite3_clear_bindings(m_pStatement);
}

int64_t HistoryStatement::Int(int column) const {
    return sqlite3_column_int64(m_pStatement, column);
}

std::string HistoryStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_pStatement, column));
    const int length = sqlite3_column_bytes(m_pStatement, column);
    return text != nullptr ? std::string(text, static_cast<size_t>(length)) : std::string();
}
