// A session on a busy proxy: 100,000 active connections kept, each with an
// update in every poll. Measured: the UI thread's share of a poll (the batch
// applied, finished entries filed, the display list rebuilt, the grid's rows
// sorted by a column and the views told; `longest_turn_ms` the longest of its
// turns of the event loop), a sort by each column, a repaint
// of the grid at 100,000 rows and at 50, and the memory each kept connection
// costs beyond the empty session (counter "bytes_per_connection").

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QImage>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/monitor/MonBatch.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "support/FakeMonitor.h"
#include "support/FakeMonitorBatch.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

namespace {

constexpr uint32_t Connections = 100000;

const char* const Services[] = {"ftp", "www", "telnet", "smtp", "nntp"};

uint32_t Started() {
    static const uint32_t started = static_cast<uint32_t>(std::time(nullptr)) - 3600;
    return started;
}

// The first poll opens every connection; the later ones move traffic on each.
std::vector<MonBytes> PollRecords(uint32_t count, int poll) {
    std::vector<MonBytes> records;
    records.reserve(count);
    for (uint32_t id = 1; id <= count; ++id) {
        const std::string n = std::to_string(id);
        const std::string quad = std::to_string(id >> 16 & 255) + "." +
                                 std::to_string(id >> 8 & 255) + "." + std::to_string(id & 255);
        if (poll == 0) {
            records.push_back(EncodeOpen(7, id, 2, Started() + id % 3000, "user" + n,
                                         EncodeSockAddr("10." + quad, 40000),
                                         "host-" + n + ".example.org"));
        }
        const uint32_t p = static_cast<uint32_t>(poll) + 1;
        records.push_back(EncodeUpdate(7, id, Services[id % 5], {}, "",
                                       EncodeSockAddr("93." + quad, 80), "dest-" + n + ".example",
                                       p * (1000 + id * 7 % 9973), p * (300 + id % 611)));
    }
    return records;
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// A session document with its grid and graph, connected to a fake monitor
// whose first batch opened `count` connections.
class Session {
public:
    explicit Session(uint32_t count) {
        m_pDoc = std::make_unique<CVGLDoc>();
        m_pDoc->m_Table.SetConnectionLimit(Connections);
        m_pWindow = std::make_unique<QWidget>();
        m_pGrid = new GridView(m_pWindow.get());
        auto* graph = new GraphView(m_pWindow.get());
        auto* layout = new QVBoxLayout(m_pWindow.get());
        layout->addWidget(m_pGrid, 1);
        layout->addWidget(graph, 1);
        m_pDoc->AddView(m_pGrid);
        m_pDoc->AddView(graph);
        m_pGrid->OnInitialUpdate();
        graph->OnInitialUpdate();
        m_pWindow->resize(1920, 1080);
        m_pWindow->show();
        QCoreApplication::processEvents();

        m_Empty = HeapInUse();
        m_Monitor.QueueBatch(PollRecords(count, 0));
        m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host()));
        SettleSession(m_pDoc.get(), 120000);
        m_Filled = HeapInUse();
    }
    ~Session() {
        m_pWindow.reset();
        m_pDoc.reset();
    }

    bool Ready(uint32_t count) const {
        return m_pDoc->m_Table.IsConnected() && m_pGrid->model()->rowCount() == int(count);
    }
    // The UI thread's part once a batch has arrived, in the document's
    // slices of 8 ms; the last slice rebuilds the rows and the views follow
    // in the same turn. Returns the longest turn in milliseconds.
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
            if (!more) m_pDoc->UpdateAllViews(nullptr);
            longest = std::max(
                longest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (!more) return longest;
        }
    }
    double BytesPerConnection(uint32_t count) const { return double(m_Filled - m_Empty) / count; }

    std::unique_ptr<CVGLDoc> m_pDoc;
    std::unique_ptr<QWidget> m_pWindow;
    GridView* m_pGrid = nullptr;
    FakeMonitor m_Monitor;
    size_t m_Empty = 0;
    size_t m_Filled = 0;
};

Session* g_pBusy = nullptr;
Session* g_pSmall = nullptr;
MonBatch* g_pUpdates = nullptr;

// Column -1 is the table's own order.
void BM_PollUiShare(benchmark::State& state) {
    g_pBusy->m_pGrid->SortByColumn(static_cast<int>(state.range(0)));
    double longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        MonBatch batch = *g_pUpdates;
        state.ResumeTiming();
        longest = std::max(longest, g_pBusy->Apply(batch));
    }
    state.counters["longest_turn_ms"] = longest;
    state.counters["bytes_per_connection"] = g_pBusy->BytesPerConnection(Connections);
    g_pBusy->m_pGrid->SortByColumn(-1);
}
BENCHMARK(BM_PollUiShare)
    ->ArgName("sortColumn")
    ->Arg(-1)
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SortBy(benchmark::State& state) {
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        // Each round starts from the table's order.
        state.PauseTiming();
        g_pBusy->m_pGrid->SortByColumn(-1);
        state.ResumeTiming();
        g_pBusy->m_pGrid->SortByColumn(column);
    }
    g_pBusy->m_pGrid->SortByColumn(-1);
}
BENCHMARK(BM_SortBy)
    ->ArgName("column")
    ->DenseRange(0, g_nColumns - 1)
    ->Unit(benchmark::kMillisecond);

void Paint(Session* session, benchmark::State& state) {
    QWidget* grid = session->m_pGrid;
    QImage image(grid->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        grid->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
void BM_GridPaintBusy(benchmark::State& state) {
    Paint(g_pBusy, state);
}
void BM_GridPaintFifty(benchmark::State& state) {
    Paint(g_pSmall, state);
}
BENCHMARK(BM_GridPaintBusy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridPaintFifty)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MonBatch updates = ReadFakeMonitorBatch(PollRecords(Connections, 1), "bench_busy");
    Session small(50);
    Session busy(Connections);
    if (!busy.Ready(Connections) || !small.Ready(50)) {
        std::fprintf(stderr, "bench_busy: the sessions did not fill from the fake monitor\n");
        return 1;
    }
    g_pBusy = &busy;
    g_pSmall = &small;
    g_pUpdates = &updates;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
