#pragma once
// Follows the systemd journal of one unit through `journalctl -o json`: its
// recent entries once, then `journalctl -f` from the last entry read (by its
// cursor, so nothing is lost or read twice when it must be started again).
// Each entry becomes a line in the form of Dante's log file,
// "(SECONDS.MICROS) NAME[PID]: MESSAGE", for the same reader.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>

#include "LineSource.h"

class JournalFollower : public LineSource {
public:
    // `program`: journalctl, or a stand-in that prints entries the same way.
    explicit JournalFollower(std::string unit, std::string program = "journalctl")
        : m_Unit(std::move(unit)), m_Program(std::move(program)) {}
    ~JournalFollower() override;
    JournalFollower(const JournalFollower&) = delete;
    JournalFollower& operator=(const JournalFollower&) = delete;

    std::string Name() const override { return "the journal of " + m_Unit; }
    void Recent(std::vector<std::string>& lines, size_t maxBytes) override;
    void Poll(std::vector<std::string>& lines) override;
    std::string Problem() const override { return m_Problem; }

    // One entry of `journalctl -o json` as a line; false for an entry without a message.
    static bool EntryLine(std::string_view json, std::string& line, std::string& cursor);

private:
    bool StartFollowing();
    void StopFollowing();
    void TakeEntries(std::vector<std::string>& lines);

    const std::string m_Unit, m_Program;
    pid_t m_Pid = -1;
    int m_Fd = -1;
    std::string m_Cursor;   // of the last entry read
    std::string m_Partial;  // the start of an entry not yet ended
    std::string m_Problem;
    // A journalctl that ended is started again no sooner than this.
    std::chrono::steady_clock::time_point m_RetryAt{};
};
