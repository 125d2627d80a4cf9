#include "LogFollower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t ReadChunk = 1 << 16;

}  // namespace

LogFollower::~LogFollower() {
    Close();
}

void LogFollower::Close() {
    if (m_Fd >= 0) close(m_Fd);
    m_Fd = -1;
}

bool LogFollower::Open() {
    const int fd = open(m_Path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        m_Problem = m_Path + " cannot be read: " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    Close();
    m_Fd = fd;
    m_Inode = status.st_ino;
    m_Device = status.st_dev;
    m_Offset = 0;
    m_Problem.clear();
    return true;
}

// The end of a file, at most `maxBytes`, without the line cut at its start.
void LogFollower::ReadTail(std::vector<std::string>& lines, size_t maxBytes) {
    struct stat status {};
    fstat(m_Fd, &status);
    const off_t size = status.st_size;
    m_Offset = size > static_cast<off_t>(maxBytes) ? size - static_cast<off_t>(maxBytes) : 0;
    const bool cut = m_Offset > 0;
    const size_t first = lines.size();
    m_Partial.clear();
    ReadToEnd(lines);
    if (cut && lines.size() > first) lines.erase(lines.begin() + static_cast<ptrdiff_t>(first));
}

// A session may have opened before the last rotation: the file rotated
// last (PATH.1) comes first, when the current one is short.
void LogFollower::Recent(std::vector<std::string>& lines, size_t maxBytes) {
    struct stat current {};
    const size_t now =
        stat(m_Path.c_str(), &current) == 0 ? static_cast<size_t>(current.st_size) : 0;
    if (now < maxBytes) {
        LogFollower rotated(m_Path + ".1");
        if (rotated.Open()) rotated.ReadTail(lines, maxBytes - now);
    }
    if (Open()) ReadTail(lines, maxBytes);
}

void LogFollower::ReadToEnd(std::vector<std::string>& lines) {
    char chunk[ReadChunk];
    for (;;) {
        const ssize_t n = pread(m_Fd, chunk, sizeof chunk, m_Offset);
        if (n <= 0) break;
        m_Offset += n;
        m_Partial.append(chunk, static_cast<size_t>(n));
        TakeLines(lines);
    }
}

void LogFollower::TakeLines(std::vector<std::string>& lines) {
    size_t start = 0;
    for (size_t end = m_Partial.find('\n'); end != std::string::npos;
         end = m_Partial.find('\n', start)) {
        lines.emplace_back(m_Partial, start, end - start);
        start = end + 1;
    }
    m_Partial.erase(0, start);
}

void LogFollower::Poll(std::vector<std::string>& lines) {
    if (m_Fd < 0) {
        // Never opened, or gone: a file that appears is read from its start.
        if (!Open()) return;
    }
    struct stat open {
    }, named{};
    fstat(m_Fd, &open);
    if (open.st_size < m_Offset) {  // truncated in place
        m_Offset = 0;
        m_Partial.clear();
    }
    ReadToEnd(lines);
    if (stat(m_Path.c_str(), &named) != 0) {
        // Renamed away and not yet made again: keep the old one, which Dante
        // may still be writing, and say so.
        m_Problem = m_Path + " is gone: " + std::strerror(errno) + "; reading the old file";
        return;
    }
    if (named.st_ino == m_Inode && named.st_dev == m_Device) {
        m_Problem.clear();
        return;
    }
    // A new file at the path: the old one has been read to its end above.
    // A line the old file left unended stays unended: Dante writes whole lines.
    m_Partial.clear();
    if (Open()) ReadToEnd(lines);
}
