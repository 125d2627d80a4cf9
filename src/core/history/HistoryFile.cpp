#include "core/history/HistoryFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/history/HistoryDatabase.h"

namespace {

constexpr mode_t PrivateFolder = 0700;
constexpr mode_t PrivateFile = 0600;

// mkdir's mode passes through the umask; chmod afterwards does not.
void CreateFolders(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at);
         at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path()) break;
    }
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        if (::mkdir(at->c_str(), PrivateFolder) != 0 && errno != EEXIST) {
            throw HistoryError(SQLITE_CANTOPEN, "cannot create the folder " + folder.string() +
                                                    ": " + std::generic_category().message(errno));
        }
        ::chmod(at->c_str(), PrivateFolder);
    }
}

// SQLite gives the -wal and -shm files the mode of the database file.
void CreatePrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, PrivateFile);
    if (fd < 0) return;  // SQLite's own open then says why
    ::fchmod(fd, PrivateFile);
    ::close(fd);
}

}  // namespace

void HistoryFile::MakePrivate(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) CreateFolders(folder);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string name = path + suffix;
        struct stat status {};
        if (::lstat(name.c_str(), &status) != 0) {
            if (suffix[0] == '\0') CreatePrivateFile(name);
        } else if (S_ISREG(status.st_mode) && (status.st_mode & 0777) != PrivateFile) {
            ::chmod(name.c_str(), PrivateFile);  // not ours to change when it fails
        }
    }
}

// In WAL mode every open connection keeps a shared lock on the file; one in
// exclusive locking mode then cannot begin, and does not wait.
bool HistoryFile::IsInUse(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 0);
    int result = sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
    if (result == SQLITE_OK)
        result = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if (result == SQLITE_OK) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return (result & 0xFF) == SQLITE_BUSY || (result & 0xFF) == SQLITE_LOCKED;
}

HistoryFile::Identity HistoryFile::IdentityOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return Identity{};
    return Identity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}
