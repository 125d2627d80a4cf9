#include "core/monitor/MonKnownMonitors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The key and fingerprint of a line; false for comments and blank lines.
bool ParseLine(const std::string& line, std::string& key, std::string& fingerprint) {
    std::istringstream words(line);
    if (!(words >> key) || key.front() == '#' || !(words >> fingerprint)) return false;
    key = Lower(key);
    return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Reason() {
    return std::strerror(errno);
}

// Every missing folder of the path, private to the user like the file.
bool MakeFolders(const std::string& path, std::string& error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "Cannot make the folder " + folder + ": " + Reason();
            return false;
        }
    }
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Writes the text beside the file and renames it over the file, so that a
// reader sees the old file or the new one, never a part of either.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "Cannot write " + path + ": " + Reason();
        return false;
    }
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    const std::string reason = Reason();
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "Cannot write " + path + ": " + (written ? Reason() : reason);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Held while one Add reads and replaces the file, so that two processes
// pinning at once both keep their line.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_Fd(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_Fd >= 0) ::flock(m_Fd, LOCK_EX);
    }
    ~FileLock() {
        if (m_Fd >= 0) ::close(m_Fd);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_Fd;
};

}  // namespace

std::string MonKnownMonitors::Find(const std::string& monitorKey) const {
    const std::string wanted = Lower(monitorKey);
    std::string key, fingerprint;
    for (const std::string& line : ReadLines(m_Path)) {
        if (ParseLine(line, key, fingerprint) && key == wanted) return fingerprint;
    }
    return {};
}

bool MonKnownMonitors::Add(const std::string& monitorKey, const std::string& fingerprint,
                           std::string& error) const {
    if (m_Path.empty()) {
        error = "No file is set for the known monitors.";
        return false;
    }
    if (!MakeFolders(m_Path, error)) return false;
    FileLock lock(m_Path);
    const std::string wanted = Lower(monitorKey);
    std::string text, key, known;
    // Comments and other monitors stay as they were; an earlier pin of this
    // monitor gives way to the new one.
    for (const std::string& line : ReadLines(m_Path)) {
        if (!ParseLine(line, key, known) || key != wanted) text += line + "\n";
    }
    text += wanted + " " + fingerprint + "\n";
    return ReplaceFile(m_Path, text, error);
}
