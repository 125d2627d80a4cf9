#include "core/history/HistorySchema.h"

#include <string>

#include "core/history/HistoryDatabase.h"

namespace {

const char* const CreateVersion2 = R"sql(
CREATE TABLE names(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
CREATE TABLE connections(id INTEGER PRIMARY KEY, server INT, conn_key TEXT, user INT,
    src_addr INT, src_name INT, dst_addr INT, dst_name INT, service INT, next_server INT,
    auth INT, status INT, start_time INT, end_time INT, bytes_in INT, bytes_out INT,
    result_code INT, result_text INT);
CREATE INDEX connections_end ON connections(end_time);
CREATE TABLE periods(id INTEGER PRIMARY KEY, server INT, time INT, seconds INT,
    active INT, opened INT, closed INT, failed INT);
CREATE INDEX periods_time ON periods(time);
CREATE TABLE period_traffic(period INT, kind INT, name INT, bytes_in INT, bytes_out INT,
    PRIMARY KEY(period, kind, name)) WITHOUT ROWID;
CREATE TABLE events(id INTEGER PRIMARY KEY, server INT, time INT, kind INT, text TEXT);
CREATE INDEX events_time ON events(time);
)sql";

// Version 1's tables are renamed, their texts gathered into `names`, their
// rows copied with the texts' numbers, and the old tables dropped.
const char* const MigrateVersion1 = R"sql(
ALTER TABLE connections RENAME TO connections_v1;
ALTER TABLE periods RENAME TO periods_v1;
ALTER TABLE period_traffic RENAME TO period_traffic_v1;
ALTER TABLE events RENAME TO events_v1;
DROP INDEX IF EXISTS connections_end;
DROP INDEX IF EXISTS periods_time;
DROP INDEX IF EXISTS events_time;
)sql";

const char* const GatherNamesVersion1 = R"sql(
INSERT OR IGNORE INTO names(text)
    SELECT coalesce(server, '') FROM connections_v1 UNION SELECT coalesce(user, '') FROM connections_v1
    UNION SELECT coalesce(src_addr, '') FROM connections_v1 UNION SELECT coalesce(src_name, '') FROM connections_v1
    UNION SELECT coalesce(dst_addr, '') FROM connections_v1 UNION SELECT coalesce(dst_name, '') FROM connections_v1
    UNION SELECT coalesce(service, '') FROM connections_v1 UNION SELECT coalesce(next_server, '') FROM connections_v1
    UNION SELECT coalesce(result_text, '') FROM connections_v1 UNION SELECT coalesce(server, '') FROM periods_v1
    UNION SELECT coalesce(name, '') FROM period_traffic_v1 UNION SELECT coalesce(server, '') FROM events_v1;
)sql";

const char* const CopyVersion1 = R"sql(
INSERT INTO connections(id, server, conn_key, user, src_addr, src_name, dst_addr, dst_name,
        service, next_server, auth, status, start_time, end_time, bytes_in, bytes_out,
        result_code, result_text)
    SELECT o.id, (SELECT id FROM names WHERE text = coalesce(o.server, '')), o.conn_key,
        (SELECT id FROM names WHERE text = coalesce(o.user, '')),
        (SELECT id FROM names WHERE text = coalesce(o.src_addr, '')),
        (SELECT id FROM names WHERE text = coalesce(o.src_name, '')),
        (SELECT id FROM names WHERE text = coalesce(o.dst_addr, '')),
        (SELECT id FROM names WHERE text = coalesce(o.dst_name, '')),
        (SELECT id FROM names WHERE text = coalesce(o.service, '')),
        (SELECT id FROM names WHERE text = coalesce(o.next_server, '')),
        o.auth, o.status, o.start_time, o.end_time, o.bytes_in, o.bytes_out, o.result_code,
        (SELECT id FROM names WHERE text = coalesce(o.result_text, ''))
    FROM connections_v1 o;
INSERT INTO periods(id, server, time, seconds, active, opened, closed, failed)
    SELECT o.id, (SELECT id FROM names WHERE text = coalesce(o.server, '')), o.time, o.seconds,
        o.active, o.opened, o.closed, o.failed FROM periods_v1 o;
INSERT OR REPLACE INTO period_traffic(period, kind, name, bytes_in, bytes_out)
    SELECT o.period, o.kind, (SELECT id FROM names WHERE text = coalesce(o.name, '')),
        o.bytes_in, o.bytes_out FROM period_traffic_v1 o;
INSERT INTO events(id, server, time, kind, text)
    SELECT o.id, (SELECT id FROM names WHERE text = coalesce(o.server, '')), o.time, o.kind, o.text
    FROM events_v1 o;
DROP TABLE connections_v1;
DROP TABLE periods_v1;
DROP TABLE period_traffic_v1;
DROP TABLE events_v1;
)sql";

}  // namespace

void HistorySchema::Prepare(HistoryDatabase& db) {
    const int64_t version = db.IntPragma("user_version");
    // Set before the first table, so that trimming can give pages back to the disk.
    if (version == 0) db.Exec("PRAGMA auto_vacuum=INCREMENTAL");
    // WAL: a crash loses at most the transaction being written, never the
    // file, and a reader (the History view, an export) never blocks the writer.
    db.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    if (version == CurrentVersion) return;
    if (version > CurrentVersion) {
        throw HistoryError(NewerVersionCode,
                           "version " + std::to_string(version) + " is newer than this program's");
    }
    db.Exec("BEGIN IMMEDIATE");
    try {
        if (version == 0) {
            Create(db);
        } else {
            MigrateFrom1(db);
        }
        db.Exec(("PRAGMA user_version=" + std::to_string(CurrentVersion)).c_str());
        db.Exec("COMMIT");
    } catch (...) {
        db.Exec("ROLLBACK");
        throw;
    }
}

void HistorySchema::Create(HistoryDatabase& db) {
    db.Exec(CreateVersion2);
}

void HistorySchema::MigrateFrom1(HistoryDatabase& db) {
    db.Exec(MigrateVersion1);
    db.Exec(CreateVersion2);
    db.Exec(GatherNamesVersion1);
    db.Exec(CopyVersion1);
}
