#pragma once
// The history file on disk, beside what SQLite does with it: it holds every
// user name and destination, so only its owner may read it; another program
// may have it open; and someone may move or replace it while it is open.

#include <cstdint>
#include <string>

class HistoryFile {
public:
    // Which file a path names: device and inode (both 0 when there is none).
    struct Identity {
        uint64_t m_Device = 0;
        uint64_t m_Inode = 0;
        bool operator==(const Identity&) const = default;
    };

    // Creates the missing folders of the path 0700 and the file 0600, and
    // narrows an existing file and its WAL companions to 0600, whatever the
    // umask. A folder that exists is left as its owner set it. Raises
    // HistoryError when a folder cannot be created.
    static void MakePrivate(const std::string& path);
    // True while another connection, of this program or another, has the
    // database open: it then holds a lock that an exclusive one cannot get.
    static bool IsInUse(const std::string& path);
    static Identity IdentityOf(const std::string& path);
};
