// The grid of all servers over 4 sessions of 25,000 connections each, beside
// one session of 100,000 with the same kind of connections (as bench_busy and
// bench_filter measure it). Each session has its grid's pane, as in its tab.
// Measured on the UI thread:
// - the refresh of the combined grid after one session polls (its rows
//   counted, chosen and sorted again, the count and totals), in the table's
//   order and sorted by a text and a number column, and grouped by server;
// - one session's whole poll, its batch applied in slices as bench_busy's
//   BM_PollUiShare does, with the combined grid's refresh in it;
// - one keystroke of a filter line, and the first keystroke after a poll;
// - for the one session of 100,000, its pane's refresh after a poll.
// VGL_BENCH_SCREENSHOT=FILE.png saves a picture of the window as measured.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/monitor/MonBatch.h"
#include "gui/fleet/AllServersWindow.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionList.h"
#include "support/FakeMonitor.h"
#include "support/FakeMonitorBatch.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

namespace {

constexpr int Sessions = 4;
constexpr uint32_t Connections = 25000;  // each

const char* const Services[] = {"ftp", "www", "telnet", "smtp", "nntp"};

uint32_t Started() {
    static const uint32_t started = static_cast<uint32_t>(std::time(nullptr)) - 3600;
    return started;
}

// As bench_busy's: the first poll opens every connection, the later ones
// move traffic on each. The users and destinations repeat as bench_filter's.
std::vector<MonBytes> PollRecords(uint32_t count, int poll, uint32_t server) {
    std::vector<MonBytes> records;
    records.reserve(count * 2);
    for (uint32_t id = 1; id <= count; ++id) {
        const uint32_t client = (id + server * 97) % 500;
        const uint32_t dest = (id + server * 1013) % 5000;
        if (poll == 0) {
            records.push_back(EncodeOpen(7, id, 2, Started() + id % 3000,
                                         "user" + std::to_string((id + server) % 2000),
                                         EncodeSockAddr("10.0." + std::to_string(client >> 8) +
                                                            "." + std::to_string(client & 255),
                                                        40000),
                                         "host-" + std::to_string(client) + ".example.org"));
        }
        const uint32_t p = static_cast<uint32_t>(poll) + 1;
        records.push_back(EncodeUpdate(
            7, id, Services[id % 5], {}, "",
            EncodeSockAddr("93.184." + std::to_string(dest >> 8) + "." + std::to_string(dest & 255),
                           443),
            "dest-" + std::to_string(dest) + ".example", p * (1000 + id * 7 % 9973),
            p * (300 + id % 611)));
    }
    return records;
}

// A session document with its grid's pane, connected to a fake monitor whose first
// batch opened its connections.
class Session {
public:
    Session(uint32_t server, uint32_t count) : m_nCount(count) {
        m_pDoc = std::make_unique<CVGLDoc>();
        m_pDoc->m_Table.SetConnectionLimit(count);
        m_pGrid = new GridView;
        m_pPane = new ConnectionPane(m_pGrid);
        m_pDoc->AddView(m_pGrid);
        m_pPane->SetDocument(m_pDoc.get());
        m_pGrid->OnInitialUpdate();
        m_pPane->resize(1920, 1000);
        m_Monitor.QueueBatch(PollRecords(count, 0, server));
        m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host()));
        SettleSession(m_pDoc.get(), 120000);
    }
    ~Session() {
        delete m_pPane;
        m_pDoc.reset();
    }
    bool Ready() const { return m_pGrid->Model()->TableRowCount() == int(m_nCount); }

    // The UI thread's part once a batch has arrived, in the document's slices
    // of 8 ms; the last slice tells the views and the list of sessions.
    double Apply(MonBatch& batch) {
        using Clock = std::chrono::steady_clock;
        MonBatch spare;
        MonitorConnection* lent = m_pDoc->m_Table.LendConnection(spare);
        m_pDoc->m_Table.TakeBatch(lent, batch);
        double longest = 0;
        for (;;) {
            const auto start = Clock::now();
            const bool more = m_pDoc->m_Table.ApplySlice(start + std::chrono::milliseconds(8)) ==
                              PMCTable::ApplyMore;
            if (!more) {
                m_pDoc->UpdateAllViews(nullptr);
                SessionList::Get().Polled(m_pDoc.get());
            }
            longest = std::max(
                longest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (!more) return longest;
        }
    }

    uint32_t m_nCount = 0;
    std::unique_ptr<CVGLDoc> m_pDoc;
    GridView* m_pGrid = nullptr;
    ConnectionPane* m_pPane = nullptr;
    FakeMonitor m_Monitor;
};

std::vector<std::unique_ptr<Session>>* g_pSessions = nullptr;
Session* g_pSingle = nullptr;
AllServersWindow* g_pAll = nullptr;
MonBatch* g_pUpdates = nullptr;

CVGLDoc& Polled() {
    return *g_pSessions->front()->m_pDoc;
}

void SetFilter(const QString& text) {
    g_pAll->Pane()->FilterEdit()->setText(text);
}

// Column -1 is the table's order; grouped: by server, sorted as the table.
void BM_CombinedRefreshAfterPoll(benchmark::State& state) {
    const bool grouped = state.range(0) == -2;
    g_pAll->Grid()->SortByColumn(grouped ? -1 : static_cast<int>(state.range(0)));
    if (grouped) g_pAll->Pane()->SetGrouping(GroupBy::Server);
    for (auto _ : state) SessionList::Get().Polled(&Polled());
    state.counters["rows"] = g_pAll->Grid()->Model()->rowCount();
    g_pAll->Pane()->SetGrouping(GroupBy::Connection);
    g_pAll->Grid()->SortByColumn(-1);
}
BENCHMARK(BM_CombinedRefreshAfterPoll)
    ->ArgName("sortColumn")  // -2 grouped by server
    ->Arg(-1)
    ->Arg(1)
    ->Arg(8)
    ->Arg(-2)
    ->Unit(benchmark::kMillisecond);

// The same refresh of one session's own pane of 100,000.
void BM_SingleRefreshAfterPoll(benchmark::State& state) {
    g_pSingle->m_pGrid->SortByColumn(static_cast<int>(state.range(0)));
    for (auto _ : state) g_pSingle->m_pGrid->OnUpdate(nullptr, 0, nullptr);
    g_pSingle->m_pGrid->SortByColumn(-1);
}
BENCHMARK(BM_SingleRefreshAfterPoll)
    ->ArgName("sortColumn")
    ->Arg(-1)
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond);

void BM_PollUiShareWithCombined(benchmark::State& state) {
    g_pAll->Grid()->SortByColumn(static_cast<int>(state.range(0)));
    Session& session = *g_pSessions->front();
    session.m_pGrid->SortByColumn(static_cast<int>(state.range(0)));
    double longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        MonBatch batch = *g_pUpdates;
        state.ResumeTiming();
        longest = std::max(longest, session.Apply(batch));
    }
    state.counters["longest_turn_ms"] = longest;
    session.m_pGrid->SortByColumn(-1);
    g_pAll->Grid()->SortByColumn(-1);
}
BENCHMARK(BM_PollUiShareWithCombined)
    ->ArgName("sortColumn")
    ->Arg(-1)
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What a user types, one keystroke at a time (bench_filter's lines).
const char* const Typed[] = {"user1", "dest:93.184.0.0/16 -service:ftp", "-user:user19"};

void BM_CombinedFilterKeystroke(benchmark::State& state) {
    const std::string line = Typed[state.range(0)];
    size_t length = 0;
    for (auto _ : state) {
        length = length % line.size() + 1;
        SetFilter(QString::fromStdString(line.substr(0, length)));
    }
    SetFilter(QString());
}
BENCHMARK(BM_CombinedFilterKeystroke)
    ->ArgName("line")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);

// After one session's poll its index is brought up to date at the first
// keystroke; the other sessions' are kept.
void BM_CombinedFirstKeystrokeAfterPoll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        SetFilter(QString());
        SessionList::Get().Polled(&Polled());
        state.ResumeTiming();
        SetFilter(QStringLiteral("u"));
    }
    SetFilter(QString());
}
BENCHMARK(BM_CombinedFirstKeystrokeAfterPoll)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MonBatch updates = ReadFakeMonitorBatch(PollRecords(Connections, 1, 0), "bench_combined");
    std::vector<std::unique_ptr<Session>> sessions;
    for (uint32_t server = 0; server < Sessions; ++server) {
        sessions.push_back(std::make_unique<Session>(server, Connections));
        if (!sessions.back()->Ready()) {
            std::fprintf(stderr, "bench_combined: a session did not fill from the fake monitor\n");
            return 1;
        }
    }
    // Left out of the list of sessions, so that the combined grid shows the four only.
    auto single = std::make_unique<Session>(9, Sessions * Connections);
    if (!single->Ready()) {
        std::fprintf(stderr, "bench_combined: the single session did not fill\n");
        return 1;
    }
    SessionList::Get().Remove(single->m_pDoc.get());
    auto all = std::make_unique<AllServersWindow>();
    all->resize(1920, 1080);
    all->show();
    QCoreApplication::processEvents();
    if (all->Grid()->Model()->rowCount() != int(Sessions * Connections)) {
        std::fprintf(stderr, "bench_combined: the combined grid does not show every session\n");
        return 1;
    }
    g_pSingle = single.get();
    g_pSessions = &sessions;
    g_pAll = all.get();
    g_pUpdates = &updates;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (const QByteArray file = qgetenv("VGL_BENCH_SCREENSHOT"); !file.isEmpty())
        all->grab().save(QString::fromLocal8Bit(file));
    single.reset();
    all.reset();
    sessions.clear();
    return 0;
}
