// The history file as other users and other programs meet it: who may read
// it, and two writers (or a newer program) on one file.

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/history/HistoryQuery.h"
#include "core/history/HistoryWriter.h"
#include "support/TempFolder.h"

namespace {

HistoryBatch OneConnection(const std::string& user, int64_t end) {
    HistoryBatch batch;
    HistoryConnection c;
    c.m_Server = "proxy";
    c.m_Key = "1:" + std::to_string(end);
    c.m_User = user;
    c.m_StartTime = end - 10;
    c.m_EndTime = end;
    batch.m_Connections.push_back(c);
    return batch;
}

HistoryWriterOptions NoLimits() {
    HistoryWriterOptions options;
    options.m_MaxAgeSeconds = 0;
    return options;
}

int64_t Rows(const std::string& path) {
    HistoryQuery query;
    query.Open(path);
    HistoryRange range;
    range.m_From = 0;
    range.m_To = INT64_MAX;
    return query.Count(range);
}

unsigned ModeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 01000;
}

struct Texts {
    void operator()(const std::string& text) {
        std::lock_guard lock(m_Mutex);
        m_Texts.push_back(text);
    }
    std::vector<std::string> Get() {
        std::lock_guard lock(m_Mutex);
        return m_Texts;
    }
    std::mutex m_Mutex;
    std::vector<std::string> m_Texts;
};

}  // namespace

// With no umask at all, a new folder is 0700 and the file with its WAL
// companions 0600; a wider folder the user made stays, a wider file narrows.
TEST(HistoryFileTest, OnlyItsOwnerMayReadIt) {
    TempFolder folder;
    const std::string vgl = folder.File("data/vgl");
    const std::string path = vgl + "/history.sqlite3";
    const mode_t umask = ::umask(0);
    {
        HistoryWriter writer(path, NoLimits(), nullptr);
        writer.Submit(OneConnection("ann", 1000));
        writer.Flush();
        EXPECT_EQ(ModeOf(folder.File("data")), 0700u);
        EXPECT_EQ(ModeOf(vgl), 0700u);
        for (const char* suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(ModeOf(path + suffix), 0600u) << suffix;
    }
    ::chmod(vgl.c_str(), 0755);
    ::chmod(path.c_str(), 0644);
    {
        HistoryWriter writer(path, NoLimits(), nullptr);
        writer.Flush();
        EXPECT_EQ(ModeOf(vgl), 0755u);
        EXPECT_EQ(ModeOf(path), 0600u);
    }
    ::umask(umask);
    EXPECT_EQ(Rows(path), 1);
}

// A newer program's file that it has open is left where it is; the writer
// that cannot use it says why and writes nothing.
TEST(HistoryFileTest, AFileInUseIsNeverMovedAside) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    sqlite3* newer = nullptr;
    sqlite3_open(path.c_str(), &newer);
    sqlite3_exec(newer, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); PRAGMA user_version=99;",
                 nullptr, nullptr, nullptr);
    Texts texts;
    {
        HistoryWriter writer(path, NoLimits(), std::ref(texts));
        writer.Submit(OneConnection("ann", 1000));
        writer.Flush();
        EXPECT_FALSE(writer.IsWriting());
    }
    sqlite3_close(newer);
    ASSERT_EQ(texts.Get().size(), 1u);
    EXPECT_NE(texts.Get()[0].find("left in place, as another program has it open"),
              std::string::npos)
        << texts.Get()[0];
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"history.sqlite3"});
}

// A file moved away under a running writer (by another instance) is noticed
// at the next batch, told once, and the batches go to the file at the path.
TEST(HistoryFileTest, AFileMovedAwayIsNoticedAtTheNextWrite) {
    TempFolder folder;
    const std::string path = folder.File("history.sqlite3");
    const std::string moved = folder.File("history.sqlite3.moved");
    Texts texts;
    HistoryWriter first(path, NoLimits(), std::ref(texts));
    first.Submit(OneConnection("ann", 1000));
    first.Flush();
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::rename(path + suffix, moved + suffix);
    {
        HistoryWriter second(path, NoLimits(), nullptr);
        second.Submit(OneConnection("bob", 2000));
        second.Flush();
    }
    first.Submit(OneConnection("carol", 3000));
    first.Submit(OneConnection("dave", 4000));
    first.Flush();
    ASSERT_EQ(texts.Get().size(), 1u);
    EXPECT_NE(texts.Get()[0].find("was moved or replaced by another program"), std::string::npos);
    EXPECT_EQ(Rows(path), 3);
    EXPECT_EQ(Rows(moved), 1);
}
