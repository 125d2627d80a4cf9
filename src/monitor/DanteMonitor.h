#pragma once
// The monitor for one Dante server: its sessions come from the lines it
// logs (open and close, with Dante's own totals at the close), and while a
// session is open its bytes come from the kernel's counters of Dante's
// external socket, read just before each batch so that rows grow and rates
// are live. Lines are taken on the main loop and before each batch, under
// one lock; the monitor's clients read the records from their own threads.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Asio.h"
#include "DanteTracker.h"
#include "LineSource.h"
#include "MonitorHub.h"
#include "MonitorOptions.h"
#include "ServerLog.h"
#include "SocketTable.h"

class DanteMonitor {
public:
    // How often new lines are looked for between two polls.
    static constexpr std::chrono::milliseconds PumpPeriod{250};
    // How much of the log is read at the start for the sessions already open.
    static constexpr size_t RecentBytes = 16 << 20;

    DanteMonitor(MonitorHub& hub, const ServerLog& log, std::unique_ptr<LineSource> source);

    std::string SourceName() const;
    // The sessions open before the start, from the recent lines, kept only
    // while Dante still holds their external socket.
    void Start();
    // The lines that arrived since the last call.
    void Pump();
    // New lines, then the kernel's counters of every open session.
    void BeforeBatch();
    // The endpoints of the open session with this connection id, the
    // destination's address from the kernel when Dante's line named it by
    // name; false when it is not open. The lines that came since the last
    // pump are read first, so a session that has just ended is not found.
    bool OpenSession(uint32_t id, DanteEndpoints& endpoints);
    // The exposition of --metrics.
    std::string MetricsText(size_t clients, uint64_t refusedKeys, uint64_t refusedHandshakes);

private:
    void PumpLocked();
    void ReportSource();
    void ReportUnreadable();
    void RefreshLocked();

    const ServerLog& m_Log;
    std::mutex m_Mutex;
    std::unique_ptr<LineSource> m_pSource;
    DanteTracker m_Tracker;
    SocketTable m_Sockets;
    std::vector<std::string> m_Lines;  // kept for its capacity
    std::string m_SourceProblem;       // as last logged; empty while the source is fine
    std::string m_SocketProblem;
    Clock::time_point m_Refreshed{};
    Clock::time_point m_Noted{};     // the last line on unreadable lines
    uint64_t m_UnreadableNoted = 0;  // of them, counted by that line
    uint64_t m_LinesTaken = 0;
    bool m_bSocketsRead = false;  // the last read of the kernel's counters worked
};

// The log file or the journal that the options name.
std::unique_ptr<LineSource> MakeDanteSource(const MonitorOptions& options);
