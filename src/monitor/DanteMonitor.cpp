#include "DanteMonitor.h"

#include <algorithm>
#include <ctime>

#include "JournalFollower.h"
#include "LogFollower.h"
#include "core/monitor/MonNetAddress.h"

namespace {

// Several clients polling at once share one read of the kernel's counters.
constexpr std::chrono::milliseconds RefreshAge{200};

uint32_t Now() {
    return static_cast<uint32_t>(std::time(nullptr));
}

void Metric(std::string& text, const char* name, const char* type, const char* help,
            uint64_t value) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
            name + " " + std::to_string(value) + "\n";
}

}  // namespace

DanteMonitor::DanteMonitor(MonitorHub& hub, const ServerLog& log,
                           std::unique_ptr<LineSource> source)
    : m_Log(log), m_pSource(std::move(source)), m_Tracker(hub) {}

std::string DanteMonitor::SourceName() const {
    return m_pSource->Name();
}

void DanteMonitor::Start() {
    std::lock_guard lock(m_Mutex);
    std::vector<std::string> recent;
    m_pSource->Recent(recent, RecentBytes);
    ReportSource();
    std::string error;
    const bool read = m_Sockets.Read(error);
    if (!read) m_Log.Warning(error + "; open sessions show no bytes until they close");
    m_Tracker.Learn(recent, [this, read](const DanteLine& line) {
        const TcpCounters* socket = read ? m_Sockets.FindLocal(line.m_External) : nullptr;
        return socket && (!Mon_HasAddress(line.m_Dest) || socket->m_Remote == line.m_Dest);
    });
    m_LinesTaken += recent.size();
    if (m_Tracker.OpenCount() > 0) {
        m_Log.Notice(std::to_string(m_Tracker.OpenCount()) +
                     " sessions were open before the start; following them");
    }
    RefreshLocked();
}

void DanteMonitor::Pump() {
    std::lock_guard lock(m_Mutex);
    PumpLocked();
}

void DanteMonitor::BeforeBatch() {
    std::lock_guard lock(m_Mutex);
    PumpLocked();
    if (Clock::now() - m_Refreshed >= RefreshAge) RefreshLocked();
}

bool DanteMonitor::OpenSession(uint32_t id, DanteEndpoints& endpoints) {
    std::lock_guard lock(m_Mutex);
    PumpLocked();
    if (!m_Tracker.FindOpen(id, endpoints)) return false;
    if (Mon_HasAddress(endpoints.m_Dest)) return true;
    const TcpCounters* socket = m_Sockets.FindLocal(endpoints.m_External);
    if (!socket) {
        // A session newer than the last read of the kernel's table.
        RefreshLocked();
        socket = m_Sockets.FindLocal(endpoints.m_External);
    }
    if (socket) endpoints.m_Dest = socket->m_Remote;
    return true;
}

void DanteMonitor::PumpLocked() {
    m_Lines.clear();
    m_pSource->Poll(m_Lines);
    const uint32_t now = Now();
    for (const std::string& line : m_Lines) m_Tracker.Take(line, now);
    m_LinesTaken += m_Lines.size();
    if (m_Lines.capacity() > 4096) std::vector<std::string>().swap(m_Lines);
    ReportSource();
    ReportUnreadable();
}

// A source that fails says so once, and once more when it reads again.
void DanteMonitor::ReportSource() {
    const std::string problem = m_pSource->Problem();
    if (problem == m_SourceProblem) return;
    if (problem.empty()) {
        m_Log.Notice("reading " + m_pSource->Name() + " again");
    } else {
        m_Log.Warning(problem + "; still serving the sessions known so far");
    }
    m_SourceProblem = problem;
}

// A flood of lines in a form we do not know is one log line a minute.
void DanteMonitor::ReportUnreadable() {
    const uint64_t count = m_Tracker.Unreadable() - m_UnreadableNoted;
    if (count == 0 || Clock::now() - m_Noted < std::chrono::minutes(1)) return;
    const std::string last = m_Tracker.TakeUnreadable();
    m_Log.Warning(std::to_string(count) + " line" + (count == 1 ? "" : "s") +
                  " of Dante's could not be read; the last: " + ServerLog::Quote(last));
    m_UnreadableNoted = m_Tracker.Unreadable();
    m_Noted = Clock::now();
}

// The kernel counts what the external socket received from the destination
// and what the destination acknowledged: the session's bytes so far. They
// never go down, so a row never shrinks between polls.
void DanteMonitor::RefreshLocked() {
    m_Refreshed = Clock::now();
    std::string error;
    if (!m_Sockets.Read(error)) {
        if (error != m_SocketProblem) m_Log.Warning(error);
        m_SocketProblem = error;
        return;
    }
    m_SocketProblem.clear();
    m_Tracker.ForEachOpen([this](const MonNetAddress& external, ConnectionInfo& info) {
        const TcpCounters* socket = m_Sockets.FindLocal(external);
        if (!socket) return;
        const uint64_t in = std::max(info.m_BytesIn.load(), socket->m_BytesReceived);
        const uint64_t out = std::max(info.m_BytesOut.load(), socket->m_BytesAcked);
        info.m_BytesIn = in;
        info.m_BytesOut = out;
    });
}

std::string DanteMonitor::MetricsText(size_t clients, uint64_t refusedKeys,
                                      uint64_t refusedHandshakes) {
    std::lock_guard lock(m_Mutex);
    std::string text;
    Metric(text, "vgl_monitor_lines_total", "counter", "Lines of Dante's read.", m_LinesTaken);
    Metric(text, "vgl_monitor_unreadable_lines_total", "counter",
           "Lines about a session that could not be read.", m_Tracker.Unreadable());
    Metric(text, "vgl_monitor_sessions_total", "counter", "Sessions reported.",
           m_Tracker.Sessions());
    Metric(text, "vgl_monitor_sessions_open", "gauge", "Sessions open now.", m_Tracker.OpenCount());
    Metric(text, "vgl_monitor_source_up", "gauge", "1 while Dante's log or journal can be read.",
           m_SourceProblem.empty() ? 1 : 0);
    Metric(text, "vgl_monitor_clients", "gauge", "Monitor clients connected.", clients);
    text +=
        "# HELP vgl_monitor_refused_total Monitor clients turned away in the TLS handshake.\n"
        "# TYPE vgl_monitor_refused_total counter\n"
        "vgl_monitor_refused_total{reason=\"client_key\"} " +
        std::to_string(refusedKeys) + "\nvgl_monitor_refused_total{reason=\"handshake\"} " +
        std::to_string(refusedHandshakes) + "\n";
    return text;
}

std::unique_ptr<LineSource> MakeDanteSource(const MonitorOptions& options) {
    if (!options.m_DanteJournal.empty())
        return std::make_unique<JournalFollower>(options.m_DanteJournal);
    return std::make_unique<LogFollower>(options.m_DanteLog);
}
