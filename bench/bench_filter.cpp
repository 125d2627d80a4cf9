// Filtering and grouping a session of 100,000 connections on the UI thread,
// as the grid's pane does it: each keystroke of a filter line (the count,
// the totals and, when grouped, the groups brought up to date), the first
// keystroke after a poll (which brings the folded texts the filter searches
// up to date, once),
// and a change of grouping. The goal is one frame, 16 ms, for each.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "gui/graph/GraphView.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridView.h"
#include "gui/grid/GroupModel.h"
#include "gui/session/CVGLDoc.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

namespace {

constexpr uint32_t Connections = 100000;

const char* const Services[] = {"ftp", "www", "telnet", "smtp", "nntp"};

// 100,000 connections of 2,000 users to 5,000 destinations from 500 clients.
std::vector<MonBytes> OpenRecords(uint32_t count) {
    std::vector<MonBytes> records;
    records.reserve(count * 2);
    const uint32_t started = static_cast<uint32_t>(std::time(nullptr)) - 3600;
    for (uint32_t id = 1; id <= count; ++id) {
        const uint32_t client = id % 500;
        const uint32_t dest = id % 5000;
        records.push_back(EncodeOpen(7, id, 2, started + id % 3000, "user" + std::to_string(id % 2000),
                                     EncodeSockAddr("10.0." + std::to_string(client >> 8) + "." +
                                                    std::to_string(client & 255), 40000),
                                     "host-" + std::to_string(client) + ".example.org"));
        records.push_back(EncodeUpdate(7, id, Services[id % 5], {}, "",
                                       EncodeSockAddr("93.184." + std::to_string(dest >> 8) + "." +
                                                      std::to_string(dest & 255), 443),
                                       "dest-" + std::to_string(dest) + ".example",
                                       1000 + id * 7 % 9973, 300 + id % 611));
    }
    return records;
}

class Session {
public:
    Session() {
        m_pDoc = std::make_unique<CVGLDoc>();
        m_pDoc->m_Table.SetConnectionLimit(Connections);
        m_pWindow = std::make_unique<QWidget>();
        m_pGrid = new GridView;
        m_pPane = new ConnectionPane(m_pGrid, m_pWindow.get());
        auto* graph = new GraphView(m_pWindow.get());
        auto* layout = new QVBoxLayout(m_pWindow.get());
        layout->addWidget(m_pPane, 1);
        layout->addWidget(graph, 1);
        m_pDoc->AddView(m_pGrid);
        m_pDoc->AddView(graph);
        m_pPane->SetDocument(m_pDoc.get());
        m_pGrid->OnInitialUpdate();
        graph->OnInitialUpdate();
        m_pWindow->resize(1920, 1080);
        m_pWindow->show();
        QCoreApplication::processEvents();
        m_Monitor.QueueBatch(OpenRecords(Connections));
        m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host()));
        SettleSession(m_pDoc.get(), 120000);
    }
    ~Session() {
        m_pWindow.reset();
        m_pDoc.reset();
    }
    bool Ready() const { return m_pGrid->Model()->TableRowCount() == int(Connections); }

    std::unique_ptr<CVGLDoc> m_pDoc;
    std::unique_ptr<QWidget> m_pWindow;
    GridView* m_pGrid = nullptr;
    ConnectionPane* m_pPane = nullptr;
    FakeMonitor m_Monitor;
};

Session* g_pSession = nullptr;

// What a user types, one keystroke at a time.
const char* const Typed[] = {"user1", "dest:93.184.0.0/16 -service:ftp", "-user:user19"};

void TypeEach(benchmark::State& state, GroupBy by) {
    CVGLDoc& doc = *g_pSession->m_pDoc;
    doc.SetGrouping(by);
    const std::string line = Typed[state.range(0)];
    size_t length = 0;
    for (auto _ : state) {
        length = length % line.size() + 1;
        doc.SetFilterText(QString::fromStdString(line.substr(0, length)));
    }
    doc.SetFilterText(QString());
    doc.SetGrouping(GroupBy::Connection);
}

void BM_FilterKeystroke(benchmark::State& state) {
    TypeEach(state, GroupBy::Connection);
}
BENCHMARK(BM_FilterKeystroke)->ArgName("line")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_FilterKeystrokeGroupedByUser(benchmark::State& state) {
    TypeEach(state, GroupBy::User);
}
BENCHMARK(BM_FilterKeystrokeGroupedByUser)->ArgName("line")->Arg(0)->Unit(benchmark::kMillisecond);

// After a poll the index is brought up to date, once, at the first keystroke;
// here no connection changed, as with most of them at a real poll.
void BM_FirstKeystrokeAfterPoll(benchmark::State& state) {
    CVGLDoc& doc = *g_pSession->m_pDoc;
    for (auto _ : state) {
        state.PauseTiming();
        doc.SetFilterText(QString());
        g_pSession->m_pGrid->SetRowCount(static_cast<int>(doc.m_Table.DisplayCount()));
        state.ResumeTiming();
        doc.SetFilterText(QStringLiteral("u"));
    }
    doc.SetFilterText(QString());
}
BENCHMARK(BM_FirstKeystrokeAfterPoll)->Unit(benchmark::kMillisecond);

void BM_Regroup(benchmark::State& state) {
    CVGLDoc& doc = *g_pSession->m_pDoc;
    const GroupBy by = static_cast<GroupBy>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        doc.SetGrouping(GroupBy::Connection);
        state.ResumeTiming();
        doc.SetGrouping(by);
    }
    state.counters["groups"] = g_pSession->m_pPane->Groups()->rowCount();
    doc.SetGrouping(GroupBy::Connection);
}
BENCHMARK(BM_Regroup)
    ->ArgName("by")  // 1 user, 2 destination, 3 service, 4 client
    ->DenseRange(1, 4)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Session session;
    if (!session.Ready()) {
        std::fprintf(stderr, "bench_filter: the session did not fill from the fake monitor\n");
        return 1;
    }
    g_pSession = &session;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
