// A repaint of the main window as the user sees it at every poll: 1920x1080,
// offscreen, one session of 51 rows whose graph holds 14 polls. The grid,
// the graph and the whole window are rendered separately, in CPU time of the
// whole process. A last case polls before each render, so that the texts of
// every row have changed as they do at a real poll.
//
// VGL_BENCH_SCREENSHOT=FILE.png saves a picture of the window as measured.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/ChildFrm.h"
#include "app/MainFrm.h"
#include "app/VGLApp.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

namespace {

constexpr uint32_t Connections = 51;  // as many as the table keeps
constexpr int Polls = 14;             // as many points as the graph shows

// The records of one poll: the first opens every connection; each poll moves
// some traffic on every one of them.
std::vector<MonBytes> PollBatch(int poll) {
    static const char* const services[] = {"ftp", "www", "telnet", "smtp", "nntp"};
    static const uint32_t started = static_cast<uint32_t>(std::time(nullptr)) - 3600;
    std::vector<MonBytes> records;
    for (uint32_t id = 1; id <= Connections; ++id) {
        const std::string n = std::to_string(id);
        if (poll == 0) {
            records.push_back(EncodeOpen(7, id, 2, started + id * 37, "user" + n,
                                         EncodeSockAddr("10.1.2." + n, 40000 + id),
                                         "workstation-" + n + ".example.org"));
        }
        // Running totals whose growth changes from poll to poll, so that the
        // graph's lines slope as they do in use.
        const uint32_t p = static_cast<uint32_t>(poll);
        const uint32_t in = (p + 1) * (1000 + id * 77) + p * p * 40 * (id % 7);
        const uint32_t out = (p + 1) * (300 + id * 13) + p * p * 10;
        records.push_back(EncodeUpdate(7, id, services[id % 5], {}, "",
                                       EncodeSockAddr("93.184.216." + n, 80),
                                       "downloads-" + n + ".example.com", in, out));
    }
    return records;
}

// The program's own start-up, with a session connected to a fake monitor.
// Polls go through the document's refresh, each waited for until its batch
// has been applied.
class Scene {
public:
    Scene() {
        qputenv("XDG_RUNTIME_DIR", m_LockDir.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_LockDir.path().toLocal8Bit());
        m_App = std::make_unique<CVGLApp>();
        if (!m_App->StartInstance()) return;
        m_pMain = m_App->MainFrame();
        m_pMain->resize(1920, 1080);
        m_pMain->show();
        Settle();  // showing refreshes every session once, before any poll is queued
        m_pDoc = dynamic_cast<CVGLDoc*>(m_App->GetDocTemplates().front()->GetDocuments().front());
        if (!m_pDoc) return;
        m_Monitor.QueueBatch(PollBatch(0));
        if (!m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host()))) return;
        SettleSession(m_pDoc);
        for (int poll = 1; poll < Polls; ++poll) Poll(poll);
        m_pFrame = CChildFrame::FramesOf(m_pDoc).front();
        Settle();
    }

    bool Ready() const {
        return m_pFrame && m_pFrame->GetGridView()->model()->rowCount() == int(Connections);
    }

    void Poll(int poll) {
        m_Monitor.QueueBatch(PollBatch(poll));
        m_pDoc->Refresh();
        SettleSession(m_pDoc);
    }

    // Lets layouts and deferred updates run, as the event loop would.
    static void Settle() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    QWidget* Window() const { return m_pMain; }
    QWidget* Grid() const { return m_pFrame->GetGridView(); }
    QWidget* Graph() const { return m_pFrame->GetGraphView(); }

private:
    QTemporaryDir m_LockDir;
    FakeMonitor m_Monitor;
    std::unique_ptr<CVGLApp> m_App;
    CMainFrame* m_pMain = nullptr;
    CVGLDoc* m_pDoc = nullptr;
    CChildFrame* m_pFrame = nullptr;
};

Scene* g_pScene = nullptr;

void Render(QWidget* widget, benchmark::State& state) {
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        widget->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_Grid(benchmark::State& state) {
    Render(g_pScene->Grid(), state);
}
void BM_Graph(benchmark::State& state) {
    Render(g_pScene->Graph(), state);
}
void BM_Window(benchmark::State& state) {
    Render(g_pScene->Window(), state);
}

// A poll (not timed), then the window as it repaints after it.
void BM_WindowAfterPoll(benchmark::State& state) {
    QImage image(g_pScene->Window()->size(), QImage::Format_ARGB32_Premultiplied);
    int poll = Polls;
    for (auto _ : state) {
        state.PauseTiming();
        g_pScene->Poll(poll++);
        state.ResumeTiming();
        g_pScene->Window()->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(BM_Grid)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Graph)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Window)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_WindowAfterPoll)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Scene scene;
    if (!scene.Ready()) {
        std::fprintf(stderr, "bench_window: the session did not fill from the fake monitor\n");
        return 1;
    }
    g_pScene = &scene;
    if (const QString path = qEnvironmentVariable("VGL_BENCH_SCREENSHOT"); !path.isEmpty()) {
        if (!scene.Window()->grab().save(path)) return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
