#include "core/history/HistoryStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "core/history/HistorySchema.h"
#include "core/history/HistoryStatement.h"

namespace {

// Rows per trimming step: a few milliseconds of work, so that a batch never waits long.
constexpr int64_t TrimConnections = 2000;
constexpr int64_t TrimPeriods = 200;
constexpr int TrafficService = 0;
constexpr int TrafficUser = 1;
// New names the cache takes before its first turn, and at least between two.
constexpr size_t NewNamesPerTurn = 16384;

bool IsDamaged(const HistoryError& error) {
    return error.PrimaryCode() == SQLITE_CORRUPT || error.PrimaryCode() == SQLITE_NOTADB;
}

std::string TimeStamp(int64_t now) {
    const std::time_t when = static_cast<std::time_t>(now);
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, length);
}

}  // namespace

struct HistoryStore::Statements {
    explicit Statements(HistoryDatabase& db)
        : m_FindName(db, "SELECT id FROM names WHERE text = ?1"),
          m_AddName(db, "INSERT INTO names(text) VALUES(?1)"),
          m_AddConnection(db,
                          "INSERT INTO connections(server, conn_key, user, src_addr, src_name, "
                          "dst_addr, dst_name, service, next_server, auth, status, start_time, "
                          "end_time, bytes_in, bytes_out, result_code, result_text) "
                          "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17)"),
          m_AddPeriod(db,
                      "INSERT INTO periods(server, time, seconds, active, opened, closed, failed) "
                      "VALUES(?1,?2,?3,?4,?5,?6,?7)"),
          m_AddTraffic(db,
                       "INSERT INTO period_traffic(period, kind, name, bytes_in, bytes_out) "
                       "VALUES(?1,?2,?3,?4,?5) ON CONFLICT DO UPDATE SET "
                       "bytes_in = bytes_in + excluded.bytes_in, "
                       "bytes_out = bytes_out + excluded.bytes_out"),
          m_AddEvent(db, "INSERT INTO events(server, time, kind, text) VALUES(?1,?2,?3,?4)") {}

    HistoryStatement m_FindName;
    HistoryStatement m_AddName;
    HistoryStatement m_AddConnection;
    HistoryStatement m_AddPeriod;
    HistoryStatement m_AddTraffic;
    HistoryStatement m_AddEvent;
};

HistoryStore::HistoryStore(std::string path) : m_Path(std::move(path)) {}

HistoryStore::~HistoryStore() {
    Close();
}

std::string HistoryStore::Open(int64_t now) {
    Close();
    return OpenOrReplace(now);
}

std::string HistoryStore::OpenOrReplace(int64_t now) {
    try {
        OpenPrepared();
        return std::string();
    } catch (const HistoryError& error) {
        Close();
        const bool newer = error.m_Code == HistorySchema::NewerVersionCode;
        if (!newer && !IsDamaged(error)) throw;
        std::string moved;
        try {
            moved = MoveAside(m_Path, newer ? "newer" : "damaged", now);
        } catch (const HistoryError& busy) {
            throw HistoryError(busy.m_Code, std::string(error.what()) +
                                                "; it is left in place, as " + busy.what());
        }
        OpenPrepared();
        return std::string(newer ? "The history file was written by a newer version of VGL"
                                 : "The history file was damaged") +
               " and has been moved aside as " + moved + "; a new one was started.";
    }
}

void HistoryStore::OpenPrepared() {
    HistoryFile::MakePrivate(m_Path);
    m_Db.Open(m_Path, HistoryDatabase::ReadWrite);
    HistorySchema::Prepare(m_Db);
    if (m_PageLimit > 0) SetPageLimit(m_PageLimit);
    m_pStatements = std::make_unique<Statements>(m_Db);
    m_File = HistoryFile::IdentityOf(m_Path);
    m_Wal = HistoryFile::IdentityOf(m_Path + "-wal");
}

bool HistoryStore::IsReplaced() const {
    return m_Db.IsOpen() && HistoryFile::IdentityOf(m_Path) != m_File;
}

// SQLite deletes the WAL companions by name when the last connection closes;
// once they name another file's (ours were moved with the file), they stay.
void HistoryStore::Close() {
    m_pStatements.reset();
    ForgetNames();
    if (m_Db.IsOpen() && HistoryFile::IdentityOf(m_Path + "-wal") != m_Wal) {
        int persist = 1;
        sqlite3_file_control(m_Db.Handle(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    }
    m_Db.Close();
}

void HistoryStore::SetPageLimit(int64_t pages) {
    m_PageLimit = pages;
    if (m_Db.IsOpen() && pages > 0)
        m_Db.IntPragma(("max_page_count=" + std::to_string(pages)).c_str());
}

std::string HistoryStore::MoveAside(const std::string& path, const char* kind, int64_t now) {
    if (HistoryFile::IsInUse(path)) throw HistoryError(SQLITE_BUSY, "another program has it open");
    const std::string moved = path + "." + kind + "-" + TimeStamp(now);
    std::error_code error;
    std::filesystem::rename(path, moved, error);
    if (error)
        throw HistoryError(SQLITE_CANTOPEN, "cannot rename " + path + ": " + error.message());
    // The WAL belongs to the old file: left in place it would be replayed into the new one.
    for (const char* suffix : {"-wal", "-shm"}) {
        std::filesystem::rename(path + suffix, moved + suffix, error);
    }
    return moved;
}

void HistoryStore::Write(const HistoryBatch& batch) {
    if (batch.IsEmpty()) return;
    m_Db.Exec("BEGIN IMMEDIATE");
    try {
        for (const HistoryConnection& connection : batch.m_Connections) WriteConnection(connection);
        HistoryConnection expanded;
        for (const HistoryFinished& finished : batch.m_Finished) {
            batch.Expand(finished, expanded);
            WriteConnection(expanded);
        }
        for (const HistoryPeriod& period : batch.m_Periods) WritePeriod(batch, period);
        for (const HistoryEvent& event : batch.m_Events) WriteEvent(event);
        m_Db.Exec("COMMIT");
    } catch (...) {
        // Names added in the failed transaction are gone with it.
        ForgetNames();
        if (m_Db.IsOpen()) sqlite3_exec(m_Db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    AgeNames();
}

int64_t HistoryStore::NameId(const std::string& text) {
    auto found = m_NameIds.find(text);
    if (found != m_NameIds.end()) return found->second;
    auto old = m_OldNameIds.find(text);
    if (old != m_OldNameIds.end()) {
        // The node moves as it is: a name coming back allocates nothing.
        auto node = m_OldNameIds.extract(old);
        const int64_t id = node.mapped();
        m_NameIds.insert(std::move(node));
        ++m_ReturnedNames;
        return id;
    }
    HistoryStatement& find = m_pStatements->m_FindName;
    find.Bind(1, text);
    int64_t id = 0;
    if (find.Step()) {
        id = find.Int(0);
        find.Reset();
    } else {
        find.Reset();
        m_pStatements->m_AddName.Bind(1, text).Run();
        id = sqlite3_last_insert_rowid(m_Db.Handle());
    }
    m_NameIds.emplace(text, id);
    return id;
}

// A turn once the names new since the last outnumber those that came back:
// a name no batch uses for two turns goes, and the cache keeps to what recent
// batches name however many connections the file has seen.
void HistoryStore::AgeNames() {
    const size_t fresh = m_NameIds.size() - m_ReturnedNames;
    if (fresh <= std::max(NewNamesPerTurn, m_ReturnedNames)) return;
    m_OldNameIds.swap(m_NameIds);
    m_NameIds.clear();
    m_ReturnedNames = 0;
}

void HistoryStore::ForgetNames() {
    m_NameIds.clear();
    m_OldNameIds.clear();
    m_ReturnedNames = 0;
}

void HistoryStore::WriteConnection(const HistoryConnection& c) {
    HistoryStatement& add = m_pStatements->m_AddConnection;
    add.Bind(1, NameId(c.m_Server)).Bind(2, c.m_Key).Bind(3, NameId(c.m_User));
    add.Bind(4, NameId(c.m_SourceAddr)).Bind(5, NameId(c.m_SourceName));
    add.Bind(6, NameId(c.m_DestAddr)).Bind(7, NameId(c.m_DestName));
    add.Bind(8, NameId(c.m_Service)).Bind(9, NameId(c.m_NextServer));
    add.Bind(10, int64_t{c.m_AuthMethod}).Bind(11, int64_t{c.m_Status});
    add.Bind(12, c.m_StartTime).Bind(13, c.m_EndTime);
    add.Bind(14, static_cast<int64_t>(c.m_BytesIn)).Bind(15, static_cast<int64_t>(c.m_BytesOut));
    add.Bind(16, int64_t{c.m_ResultCode}).Bind(17, NameId(c.m_ResultText));
    add.Run();
}

void HistoryStore::WritePeriod(const HistoryBatch& batch, const HistoryPeriod& p) {
    HistoryStatement& add = m_pStatements->m_AddPeriod;
    add.Bind(1, NameId(p.m_Server)).Bind(2, p.m_Time).Bind(3, p.m_Seconds);
    add.Bind(4, int64_t{p.m_Active}).Bind(5, int64_t{p.m_Opened});
    add.Bind(6, int64_t{p.m_Closed}).Bind(7, int64_t{p.m_Failed});
    add.Run();
    const int64_t period = sqlite3_last_insert_rowid(m_Db.Handle());
    HistoryStatement& traffic = m_pStatements->m_AddTraffic;
    auto addAll = [&](const std::map<std::string, HistoryTraffic>& items, int kind) {
        for (const auto& [name, bytes] : items) {
            traffic.Bind(1, period).Bind(2, int64_t{kind}).Bind(3, NameId(name));
            traffic.Bind(4, static_cast<int64_t>(bytes.m_In));
            traffic.Bind(5, static_cast<int64_t>(bytes.m_Out));
            traffic.Run();
        }
    };
    std::map<std::string, HistoryTraffic> services;
    std::map<std::string, HistoryTraffic> users;
    batch.CountTraffic(p, services, users);
    addAll(services, TrafficService);
    addAll(users, TrafficUser);
}

void HistoryStore::WriteEvent(const HistoryEvent& e) {
    HistoryStatement& add = m_pStatements->m_AddEvent;
    add.Bind(1, NameId(e.m_Server)).Bind(2, e.m_Time).Bind(3, int64_t{e.m_Kind}).Bind(4, e.m_Text);
    add.Run();
}

bool HistoryStore::TrimStep(int64_t now, int64_t maxAgeSeconds, uint64_t maxBytes) {
    m_Db.Exec("BEGIN IMMEDIATE");
    bool more = false;
    try {
        if (maxAgeSeconds > 0) more = TrimByAge(now - maxAgeSeconds);
        if (!more && maxBytes > 0) more = TrimBySize(maxBytes);
        m_Db.Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_Db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    // Gives freed pages back to the disk a few at a time.
    m_Db.Exec("PRAGMA incremental_vacuum(256)");
    return more;
}

bool HistoryStore::TrimByAge(int64_t cutoff) {
    HistoryStatement connections(
        m_Db,
        "DELETE FROM connections WHERE id IN "
        "(SELECT id FROM connections WHERE end_time < ?1 ORDER BY end_time LIMIT ?2)");
    connections.Bind(1, cutoff).Bind(2, TrimConnections).Run();
    bool more = m_Db.Changes() == TrimConnections;
    HistoryStatement traffic(m_Db,
                             "DELETE FROM period_traffic WHERE period IN "
                             "(SELECT id FROM periods WHERE time < ?1 ORDER BY time LIMIT ?2)");
    traffic.Bind(1, cutoff).Bind(2, TrimPeriods).Run();
    HistoryStatement periods(m_Db,
                             "DELETE FROM periods WHERE id IN "
                             "(SELECT id FROM periods WHERE time < ?1 ORDER BY time LIMIT ?2)");
    periods.Bind(1, cutoff).Bind(2, TrimPeriods).Run();
    more = more || m_Db.Changes() == TrimPeriods;
    HistoryStatement events(m_Db,
                            "DELETE FROM events WHERE id IN "
                            "(SELECT id FROM events WHERE time < ?1 ORDER BY time LIMIT ?2)");
    events.Bind(1, cutoff).Bind(2, TrimConnections).Run();
    return more || m_Db.Changes() == TrimConnections;
}

// The oldest slice goes: connections by their end, then the periods and
// events up to the last of them.
bool HistoryStore::TrimBySize(uint64_t maxBytes) {
    if (m_Db.UsedBytes() <= maxBytes) return false;
    HistoryStatement last(m_Db,
                          "SELECT max(end_time) FROM (SELECT end_time FROM connections "
                          "ORDER BY end_time LIMIT ?1)");
    last.Bind(1, TrimConnections);
    int64_t until = last.Step() ? last.Int(0) : 0;
    HistoryStatement firstPeriod(m_Db, "SELECT min(time) FROM periods");
    if (firstPeriod.Step() && (until == 0 || firstPeriod.Int(0) > until)) {
        until = std::max(until, firstPeriod.Int(0));
    }
    int64_t removed = 0;
    HistoryStatement connections(
        m_Db,
        "DELETE FROM connections WHERE id IN "
        "(SELECT id FROM connections WHERE end_time <= ?1 ORDER BY end_time LIMIT ?2)");
    connections.Bind(1, until).Bind(2, TrimConnections).Run();
    removed += m_Db.Changes();
    HistoryStatement traffic(m_Db,
                             "DELETE FROM period_traffic WHERE period IN "
                             "(SELECT id FROM periods WHERE time <= ?1 ORDER BY time LIMIT ?2)");
    traffic.Bind(1, until).Bind(2, TrimPeriods).Run();
    HistoryStatement periods(m_Db,
                             "DELETE FROM periods WHERE id IN "
                             "(SELECT id FROM periods WHERE time <= ?1 ORDER BY time LIMIT ?2)");
    periods.Bind(1, until).Bind(2, TrimPeriods).Run();
    removed += m_Db.Changes();
    HistoryStatement events(m_Db, "DELETE FROM events WHERE time <= ?1");
    events.Bind(1, until).Run();
    removed += m_Db.Changes();
    return removed > 0;
}

void HistoryStore::Clear() {
    m_Db.Exec(
        "BEGIN IMMEDIATE; DELETE FROM connections; DELETE FROM period_traffic; DELETE FROM "
        "periods; "
        "DELETE FROM events; DELETE FROM names; COMMIT;");
    ForgetNames();
    m_Db.Exec("PRAGMA incremental_vacuum");
}
