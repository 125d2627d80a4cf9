// The real main window, offscreen at 1920x1080, with one session that keeps
// 100,000 live connections polled from a monitor in this process: every poll
// moves traffic on each of them, closes the oldest 1 % and opens as many new.
// Some users and destinations are written beyond ASCII, so the sorts by text
// go through the locale's collation as they do in use.
//
// Each case performs what a user does (a poll landing, a click on a column's
// header, a filter typed and cleared, a grouping chosen, an export) and runs
// the event loop until the window has settled. Reported: the longest turn of
// the event loop (`max_turn_ms`) and the 99th percentile of the turns that did
// work (`p99_turn_ms`), both in the UI thread's CPU time so that other work
// on the machine does not count, the longest turn by the clock
// (`max_wall_ms`), and the CPU time of the whole action on the UI thread
// (`ui_cpu_ms`) and in the process (`cpu_ms`: the session's worker, the
// sorter, the export's writer, the history's writer and the monitor's thread
// as well). A turn over 16 ms is a frame the user saw lost.
//
// VGL_BENCH_SCREENSHOT=FILE.png saves a picture of the window while the
// export is written.
//
// BM_MemoryOverPolls runs 200 polls of the same connections and reports the
// resident set after poll 50 and poll 200 (`rss_growth_pct`: flat is 0).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/ChildFrm.h"
#include "app/MainFrm.h"
#include "app/VGLApp.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/ExportProgress.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

namespace {

constexpr uint32_t Connections = 100000;
constexpr uint32_t ChurnPerPoll = Connections / 100;

const char* const Services[] = {"ftp", "www", "telnet", "smtp", "nntp"};

// The connections the monitor has open, oldest first, and their traffic.
class LiveTraffic {
public:
    LiveTraffic() {
        for (uint32_t n = 0; n < Connections; ++n) m_Live.push_back(m_NextId++);
    }

    // The first batch opens every connection; each later one closes the
    // oldest, opens new ones and moves traffic on all that are open.
    std::vector<MonBytes> NextBatch() {
        std::vector<MonBytes> records;
        records.reserve(Connections + 2 * ChurnPerPoll);
        if (m_Poll == 0) {
            for (uint32_t id : m_Live) records.push_back(OpenOf(id));
        } else {
            for (uint32_t n = 0; n < ChurnPerPoll; ++n) {
                records.push_back(EncodeClose(7, m_Live.front()));
                m_Live.pop_front();
                m_Live.push_back(m_NextId);
                records.push_back(OpenOf(m_NextId++));
            }
        }
        const uint32_t p = static_cast<uint32_t>(m_Poll) + 1;
        for (uint32_t id : m_Live) {
            const std::string n = std::to_string(id);
            const std::string dest =
                id % 9 == 0 ? "bücher-" + n + ".example" : "dest-" + n + ".example";
            records.push_back(EncodeUpdate(7, id, Services[id % 5], {}, "",
                                           EncodeSockAddr(Quad("93.", id), 80), dest,
                                           p * (1000 + id * 7 % 9973), p * (300 + id % 611)));
        }
        ++m_Poll;
        return records;
    }

private:
    static std::string Quad(const char* first, uint32_t id) {
        return first + std::to_string(id >> 16 & 255) + "." + std::to_string(id >> 8 & 255) + "." +
               std::to_string(id & 255);
    }
    static MonBytes OpenOf(uint32_t id) {
        static const uint32_t started = static_cast<uint32_t>(std::time(nullptr)) - 3600;
        const std::string n = std::to_string(id);
        const std::string user = id % 7 == 0 ? "jürgen" + n : "user" + n;
        return EncodeOpen(7, id, 2, started + id % 3000, user,
                          EncodeSockAddr(Quad("10.", id), 40000), "host-" + n + ".example.org");
    }

    std::deque<uint32_t> m_Live;
    uint32_t m_NextId = 1;
    int m_Poll = 0;
};

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The turns of the event loop while an action runs, and what it cost.
class Turns {
public:
    Turns() : m_UiCpu(CpuMs(CLOCK_THREAD_CPUTIME_ID)), m_Cpu(CpuMs(CLOCK_PROCESS_CPUTIME_ID)) {}

    // Runs the event loop until `done` holds and the window is quiet (no
    // turn with work for a few passes); false after the time-out.
    template <class Done>
    bool RunUntil(Done done, int timeoutMs = 60000) {
        using Clock = std::chrono::steady_clock;
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int quiet = 0;
        while (Clock::now() < until) {
            const auto start = Clock::now();
            const double cpuStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            const double took = CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
            if (took >= IdleTurnMs) {
                m_Turns.push_back(took);
                m_LongestWall = std::max(m_LongestWall, Ms(Clock::now() - start));
                quiet = 0;
            } else if (done() && ++quiet >= 5) {
                return true;
            } else {
                QThread::usleep(500);
            }
        }
        return false;
    }
    // The action runs in a turn of its own, as a click's handler does, and
    // the loop goes on until `done` holds and the window is quiet.
    template <class Action, class Done>
    bool Do(Action action, Done done) {
        QTimer::singleShot(0, qApp, action);
        return RunUntil(done);
    }

    void Report(benchmark::State& state, const std::string& prefix = {}) {
        std::sort(m_Turns.begin(), m_Turns.end());
        const double longest = m_Turns.empty() ? 0 : m_Turns.back();
        const double p99 =
            m_Turns.empty() ? 0 : m_Turns[std::min(m_Turns.size() - 1, m_Turns.size() * 99 / 100)];
        state.counters[prefix + "max_turn_ms"] = longest;
        state.counters[prefix + "p99_turn_ms"] = p99;
        state.counters[prefix + "turns"] = double(m_Turns.size());
        state.counters[prefix + "max_wall_ms"] = m_LongestWall;
        state.counters[prefix + "ui_cpu_ms"] = CpuMs(CLOCK_THREAD_CPUTIME_ID) - m_UiCpu;
        state.counters[prefix + "cpu_ms"] = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - m_Cpu;
    }

private:
    static constexpr double IdleTurnMs = 0.2;
    std::vector<double> m_Turns;  // the UI thread's CPU time in each turn that did work
    double m_LongestWall = 0;
    double m_UiCpu;
    double m_Cpu;
};

double RssMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The program's own start-up, with a session connected to the monitor.
class Scene {
public:
    Scene() {
        qputenv("XDG_RUNTIME_DIR", m_Dir.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_Dir.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_Dir.path().toLocal8Bit());
        m_App = std::make_unique<CVGLApp>();
        if (!m_App->StartInstance()) return;
        m_pMain = m_App->MainFrame();
        m_pMain->resize(1920, 1080);
        m_pMain->show();
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        m_pDoc = dynamic_cast<CVGLDoc*>(m_App->GetDocTemplates().front()->GetDocuments().front());
        if (!m_pDoc) return;
        m_pDoc->m_Table.SetConnectionLimit(Connections);
        m_Monitor.QueueBatch(m_Traffic.NextBatch());
        if (!m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host()))) return;
        SettleSession(m_pDoc, 120000);
        m_pFrame = CChildFrame::FramesOf(m_pDoc).front();
        // A few polls, so that closed connections are being filed as in use.
        for (int poll = 0; poll < 3; ++poll) Poll(nullptr);
    }

    bool Ready() const { return m_pFrame && Grid()->model()->rowCount() >= int(Connections); }

    // One poll: the batch is queued (not measured), the refresh asked for as
    // the period's tick does, and the window is let settle.
    void Poll(Turns* turns) {
        m_Monitor.QueueBatch(m_Traffic.NextBatch());
        Turns ignored;
        Turns& into = turns ? *turns : ignored;
        into.Do([this] { m_pDoc->Refresh(); }, [this] { return !m_pDoc->IsBusy(); });
    }

    CVGLDoc* Doc() const { return m_pDoc; }
    QWidget* Window() const { return m_pMain; }
    GridView* Grid() const { return m_pFrame->GetGridView(); }
    ConnectionPane* Pane() const { return m_pFrame->GetConnectionPane(); }
    QString Folder() const { return m_Dir.path(); }

private:
    QTemporaryDir m_Dir;
    LiveTraffic m_Traffic;
    FakeMonitor m_Monitor;
    std::unique_ptr<CVGLApp> m_App;
    CMainFrame* m_pMain = nullptr;
    CVGLDoc* m_pDoc = nullptr;
    CChildFrame* m_pFrame = nullptr;
};

Scene* g_pScene = nullptr;

bool Quiet() {
    return true;
}

bool Sorted() {
    return !g_pScene->Grid()->Model()->IsReordering();
}

void BM_PollsLanding(benchmark::State& state) {
    Turns turns;
    for (auto _ : state) g_pScene->Poll(&turns);
    turns.Report(state);
}
BENCHMARK(BM_PollsLanding)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// A click on a column's header; the same header twice sorts the other way.
void BM_SortByHeader(benchmark::State& state) {
    const int column = static_cast<int>(state.range(0));
    QHeaderView* header = g_pScene->Grid()->horizontalHeader();
    Turns turns;
    for (auto _ : state) {
        turns.Do([header, column] { emit header->sectionClicked(column); }, Sorted);
    }
    turns.Report(state);
    g_pScene->Grid()->SortByColumn(-1);
    Turns().RunUntil(Quiet);
}
BENCHMARK(BM_SortByHeader)
    ->ArgName("column")
    ->Arg(Column::Destination)
    ->Arg(Column::UserName)
    ->Arg(Column::TotalTraffic)
    ->Iterations(2)  // the second click sorts the other way
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// "dest-12" typed a key at a time, then Esc.
void BM_FilterTypedThenEsc(benchmark::State& state) {
    QLineEdit* edit = g_pScene->Pane()->FilterEdit();
    const QString typed = QStringLiteral("dest-12");
    for (auto _ : state) {
        Turns keys;
        for (QChar c : typed) {
            QCoreApplication::postEvent(edit,
                                        new QKeyEvent(QEvent::KeyPress, 0, Qt::NoModifier, c));
            keys.RunUntil(Sorted);
        }
        keys.Report(state);
        Turns esc;
        QCoreApplication::postEvent(
            edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        esc.RunUntil([edit] { return edit->text().isEmpty() && Sorted(); });
        esc.Report(state, "esc_");
    }
}
BENCHMARK(BM_FilterTypedThenEsc)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GroupBy(benchmark::State& state) {
    const auto by = static_cast<GroupBy>(state.range(0));
    ConnectionPane* pane = g_pScene->Pane();
    Turns turns;
    for (auto _ : state) {
        turns.Do([pane, by] { pane->SetGrouping(by); }, [pane] { return !pane->IsRefreshing(); });
    }
    turns.Report(state);
    pane->SetGrouping(GroupBy::Connection);
    Turns back;
    back.RunUntil(Quiet);
}
BENCHMARK(BM_GroupBy)
    ->ArgName("by")
    ->Arg(static_cast<int>(GroupBy::Service))
    ->Arg(static_cast<int>(GroupBy::Client))
    ->Arg(static_cast<int>(GroupBy::Destination))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// VGL_BENCH_SCREENSHOT=FILE.png: the window while an export is written.
void SaveScreenshotOnce() {
    static bool saved = false;
    const QString path = qEnvironmentVariable("VGL_BENCH_SCREENSHOT");
    if (saved || path.isEmpty() || !g_pScene->Window()->findChild<ExportProgress*>()) return;
    saved = g_pScene->Window()->grab().save(path);
}

// Socks5 > Export... of every row to CSV.
void BM_ExportCsv(benchmark::State& state) {
    const QString file = g_pScene->Folder() + QStringLiteral("/connections.csv");
    Turns turns;
    for (auto _ : state) {
        bool finished = false;
        bool exported = false;
        turns.Do(
            [&] {
                QString error;
                if (!g_pScene->Pane()->StartExport(file, error, [&](bool done, const QString&) {
                        exported = done;
                        finished = true;
                    }))
                    finished = true;
            },
            [&] {
                SaveScreenshotOnce();
                return finished;
            });
        if (!exported) state.SkipWithError("the export failed");
    }
    turns.Report(state);
}
BENCHMARK(BM_ExportCsv)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same connections polled 200 times: the resident set must not grow.
void BM_MemoryOverPolls(benchmark::State& state) {
    for (auto _ : state) {
        double at50 = 0;
        for (int poll = 1; poll <= 200; ++poll) {
            g_pScene->Poll(nullptr);
            if (poll == 50) at50 = RssMiB();
            if (poll % 25 == 0) {
                // What the heap holds in use and keeps free tell growth from fragmentation.
                const struct mallinfo2 heap = mallinfo2();
                std::fprintf(stderr, "poll %d: RSS %.1f MiB, heap in use %.1f MiB, free %.1f MiB\n",
                             poll, RssMiB(), double(heap.uordblks + heap.hblkhd) / 1048576.0,
                             double(heap.fordblks) / 1048576.0);
            }
        }
        const double at200 = RssMiB();
        state.counters["rss_poll50_mib"] = at50;
        state.counters["rss_poll200_mib"] = at200;
        state.counters["rss_growth_pct"] = (at200 - at50) / at50 * 100.0;
    }
}
BENCHMARK(BM_MemoryOverPolls)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Scene scene;
    if (!scene.Ready()) {
        std::fprintf(stderr, "bench_live: the session did not fill from the monitor\n");
        return 1;
    }
    g_pScene = &scene;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
