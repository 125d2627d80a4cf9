#include "core/monitor/MonKnownMonitors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/base/PrivateFile.h"

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
    if (!MakePrivateFolders(m_Path, error)) return false;
    FileLock lock(m_Path);
    const std::string wanted = Lower(monitorKey);
    std::string text, key, known;
    // Comments and other monitors stay as they were; an earlier pin of this
    // monitor gives way to the new one.
    for (const std::string& line : ReadLines(m_Path)) {
        if (!ParseLine(line, key, known) || key != wanted) text += line + "\n";
    }
    text += wanted + " " + fingerprint + "\n";
    return WritePrivateFile(m_Path, text, error);
}
