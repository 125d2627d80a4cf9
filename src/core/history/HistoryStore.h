#pragma once
// The writing side of the history file: opens it (creating its folder and
// the file for its owner only, moving a damaged file or one of a newer
// version aside unless another program has it open), writes batches as
// single transactions and trims it by age and size in small steps. Used by
// one thread at a time (the writer's).

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/history/HistoryBatch.h"
#include "core/history/HistoryDatabase.h"
#include "core/history/HistoryFile.h"

class HistoryStatement;

class HistoryStore {
public:
    explicit HistoryStore(std::string path);
    ~HistoryStore();

    // Opens the file, ready to write. A file that is damaged or of a newer
    // version is renamed with the time stamp of `now` and a new one started;
    // the text then says so (empty otherwise). Raises HistoryError when the
    // file cannot be opened or created at all, or would have to be moved
    // aside while another program has it open.
    std::string Open(int64_t now);
    void Close();
    bool IsOpen() const { return m_Db.IsOpen(); }
    const std::string& Path() const { return m_Path; }
    // True once the path names another file than the open one, or none:
    // someone moved, replaced or deleted it.
    bool IsReplaced() const;

    void Write(const HistoryBatch& batch);  // all of it or nothing; raises HistoryError
    // Deletes one small slice of what is older than maxAge seconds or, while
    // the rows take more than maxBytes, of the oldest; 0 means no limit.
    // Returns true while there is more to trim.
    bool TrimStep(int64_t now, int64_t maxAgeSeconds, uint64_t maxBytes);
    void Clear();  // every row
    uint64_t UsedBytes() { return m_Db.UsedBytes(); }
    // Caps the file at this many pages, as a full disk would (0: no cap).
    void SetPageLimit(int64_t pages);

    // Renames the file and its WAL companions to PATH.KIND-YYYYMMDD-HHMMSS;
    // returns the new name of the file. Raises HistoryError (SQLITE_BUSY)
    // and leaves the file in place while another connection has it open.
    static std::string MoveAside(const std::string& path, const char* kind, int64_t now);

private:
    struct Statements;
    std::string OpenOrReplace(int64_t now);
    void OpenPrepared();
    int64_t NameId(const std::string& text);
    void AgeNames();
    void ForgetNames();
    void WriteConnection(const HistoryConnection& connection);
    void WritePeriod(const HistoryBatch& batch, const HistoryPeriod& period);
    void WriteEvent(const HistoryEvent& event);
    bool TrimByAge(int64_t cutoff);
    bool TrimBySize(uint64_t maxBytes);

    std::string m_Path;
    HistoryDatabase m_Db;
    std::unique_ptr<Statements> m_pStatements;
    // The ids of committed names, in two generations: the names met since
    // the last turn, and those met before it and not since. A name that comes
    // back moves to the new generation; a turn drops what the old one still
    // holds. Most names a session writes come back at every poll (users,
    // services, servers), while those of closed connections often never do:
    // kept for good they would grow the cache at every poll.
    std::unordered_map<std::string, int64_t> m_NameIds;
    std::unordered_map<std::string, int64_t> m_OldNameIds;
    size_t m_ReturnedNames = 0;  // moved from the old generation since the last turn
    int64_t m_PageLimit = 0;
    HistoryFile::Identity m_File;  // the open file and its WAL, as opened
    HistoryFile::Identity m_Wal;
};
