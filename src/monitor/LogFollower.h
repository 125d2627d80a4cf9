#pragma once
// Follows a log file as it grows, through rotation: when the path names a
// new file (the old one renamed away), the old one is read to its end and
// then the new one from its start; when the file shrinks below what was
// read (truncated in place), it is read again from its start. No line is
// lost or read twice by either.

#include <sys/types.h>

#include <string>

#include "LineSource.h"

class LogFollower : public LineSource {
public:
    explicit LogFollower(std::string path) : m_Path(std::move(path)) {}
    ~LogFollower() override;
    LogFollower(const LogFollower&) = delete;
    LogFollower& operator=(const LogFollower&) = delete;

    std::string Name() const override { return m_Path; }
    void Recent(std::vector<std::string>& lines, size_t maxBytes) override;
    void Poll(std::vector<std::string>& lines) override;
    std::string Problem() const override { return m_Problem; }

private:
    bool Open();
    void Close();
    void ReadTail(std::vector<std::string>& lines, size_t maxBytes);
    // Appends what the open file holds past the offset.
    void ReadToEnd(std::vector<std::string>& lines);
    void TakeLines(std::vector<std::string>& lines);

    const std::string m_Path;
    int m_Fd = -1;
    ino_t m_Inode = 0;
    dev_t m_Device = 0;
    off_t m_Offset = 0;
    std::string m_Partial;  // the start of a line not yet ended
    std::string m_Problem;
};
