#include "app/VGLApp.h"

#include <malloc.h>

#include <QMenu>
#include <QTimer>
#include <cstdio>

#include "app/AboutBox.h"
#include "app/ChildFrm.h"
#include "app/ControlScreenshots.h"
#include "app/IdentityDlg.h"
#include "app/MainFrm.h"
#include "app/ScreenshotRunner.h"
#include "core/base/Trace.h"
#include "gui/fleet/AlertsDialog.h"
#include "gui/fleet/AlertsWindow.h"
#include "gui/fleet/AllServersWindow.h"
#include "gui/fleet/DesktopNotifier.h"
#include "gui/fleet/FleetAlerts.h"
#include "gui/fleet/FleetTray.h"
#include "gui/fleet/ServersWindow.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/framework/ProfileSettings.h"
#include "gui/framework/QtSystemTimer.h"
#include "gui/framework/UrlOpener.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionDefaults.h"

namespace {

constexpr int RecentFileCount = 4;
constexpr int ScreenshotGraceMs = 30000;
// The C library's own threshold to start with: blocks from this size up are mapped.
constexpr int MappedBlockBytes = 128 * 1024;

// glibc raises the size from which it maps a block to that of each mapped
// block freed, and the free room it keeps at the heap's top with it. A poll
// of a session with many connections allocates and frees blocks of megabytes
// (the batch, the history's batch, the lists of rows), which then come from
// the heap, where what is allocated among them splits their room when they
// are freed: with the same 100,000 connections the process grew by 45 MiB
// from the 50th poll to the 100th, its heap's free room by as much. Kept
// fixed, such blocks are mapped and given back whole when freed.
void KeepLargeBlocksMapped() {
#ifdef M_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, MappedBlockBytes);
#endif
}

}  // namespace

CVGLApp::CVGLApp() {
    KeepLargeBlocksMapped();
    OnCommand(cmd::AppAbout, [this] { ShowAboutBox(); });
    OnCommand(cmd::HelpManual, [this] { ShowManual(); });
    OnCommand(cmd::HelpIdentity, [this] { ShowIdentity(); });
    OnCommand(cmd::AppExit, [this] {
        if (m_pMainFrame) m_pMainFrame->Quit();
    });
}

CVGLApp::~CVGLApp() {
    m_pScreenshot.reset();
    FleetAlerts::Get().SetNotifier(nullptr);
    m_pTray.reset();
    m_pNotifier.reset();
    // The sessions go first, while the timer they are registered with and
    // the window that shows them still exist.
    for (const auto& docTemplate : GetDocTemplates()) docTemplate->CloseAllDocuments();
    SetMainFrame(nullptr);
    m_pMainFrame.reset();
    if (m_pSystemTimer) {
        GWTimer::UseSystemTimer(nullptr);
        m_pSystemTimer.reset();
    }
}

// The alerts' rules come from the profile; their notices go to the desktop's
// notification service, or to the tray icon's message where there is none.
void CVGLApp::StartAlerts() {
    FleetAlerts::Get().LoadSettings();
    m_pTray = std::make_unique<FleetTray>(m_pMainFrame.get(), [this] { m_pMainFrame->Quit(); });
    m_pNotifier = std::make_unique<DesktopNotifier>();
    QObject::connect(m_pNotifier.get(), &DesktopNotifier::unavailable, m_pTray.get(),
                     &FleetTray::ShowMessage);
    FleetAlerts::Get().SetNotifier(m_pNotifier.get());
}

bool CVGLApp::StartSockets() {
    return true;
}

bool CVGLApp::StartInstance(const VGLCommandLine& commandLine) {
    m_CommandLine = commandLine;
    // The grid is Qt's table view, which needs no registration before use.

    if (!StartSockets()) {
        GWMessageBox(QStringLiteral("Windows sockets initialization failed."));
        return false;
    }
    // Qt's widgets have the three-dimensional look already.

    LoadStdProfileSettings(RecentFileCount);
    // tls:// sessions find the client's identity and the trusted monitors beside the profile.
    ProfileSettings::InstallTlsSettings();
    // The options a user applies are kept for the sessions of later starts.
    SessionDefaults::Enable(true);

    auto docTemplate =
        std::make_unique<GWDocTemplate>(QString::fromUtf8(DocStrings), [] { return new CVGLDoc; });
    docTemplate->SetFrameFactory(&CChildFrame::Create);
    AddDocTemplate(std::move(docTemplate));

    m_MaxInstances = 1;
    m_HandOverArguments = HandOverArguments(m_CommandLine);
    if (!StartupCheck()) return false;

    m_pSystemTimer = std::make_unique<QtSystemTimer>();
    GWTimer::UseSystemTimer(m_pSystemTimer.get());
    InstallQtWaitCursor();

    m_pMainFrame = std::make_unique<CMainFrame>();
    SetMainFrame(m_pMainFrame.get());

    // The shell knows the document type from the installed desktop entry and
    // MIME type, and opens a document by naming it on the command line.
    if (!ProcessCommandLine()) return false;

    StartAlerts();
    m_pMainFrame->show();
    m_pMainFrame->UpdateCommandStates();
    QTimer::singleShot(0, m_pMainFrame.get(), [this] { ConnectCommandLineSessions(); });
    if (m_CommandLine.m_bReportReady) {
        std::printf("vgl: ready\n");
        std::fflush(stdout);
    }
    return true;
}

// Files open first, then one new session per --connect host; with neither,
// one new session. Any document that fails ends start-up (its failure has
// been reported already).
bool CVGLApp::ProcessCommandLine() {
    for (const QString& path : m_CommandLine.m_Files) {
        if (!OpenDocumentFile(path)) return false;
    }
    for (const QString& host : m_CommandLine.m_ConnectHosts) {
        auto* document = dynamic_cast<CVGLDoc*>(OnFileNew());
        if (!document) return false;
        m_PendingConnects.emplace_back(document, host);
    }
    if (m_CommandLine.m_Files.isEmpty() && m_CommandLine.m_ConnectHosts.isEmpty()) {
        return OnFileNew() != nullptr;
    }
    return true;
}

void CVGLApp::ConnectCommandLineSessions() {
    const auto pending = std::move(m_PendingConnects);
    m_PendingConnects.clear();
    std::vector<CVGLDoc*> connected;
    for (const auto& [document, host] : pending) {
        if (!document) continue;
        ConnectSession(*document, host, m_CommandLine);
        if (document) connected.push_back(document);
    }
    if (!m_CommandLine.m_ScreenshotPath.isEmpty() && !m_pScreenshot) {
        const int period = m_CommandLine.m_Period > 0 ? m_CommandLine.m_Period : 60;
        const int timeoutMs =
            (m_CommandLine.m_ScreenshotPolls + 1) * period * 1000 + ScreenshotGraceMs;
        m_pScreenshot =
            std::make_unique<ScreenshotRunner>(ScreenshotWindow(), m_CommandLine.m_ScreenshotPath,
                                               m_CommandLine.m_ScreenshotPolls, timeoutMs);
        if (ControlScreenshots::Handles(m_CommandLine.m_ScreenshotOf)) {
            m_pScreenshot->SetStage([this](CVGLDoc& document) {
                return ControlScreenshots::Stage(m_CommandLine.m_ScreenshotOf, document,
                                                 m_pMainFrame.get());
            });
        }
        m_pScreenshot->Start(connected);
    }
}

// The window a screenshot run pictures: the main window unless it names another.
QWidget* CVGLApp::ScreenshotWindow() {
    const QString& which = m_CommandLine.m_ScreenshotOf;
    if (which == QLatin1String("servers")) return ServersWindow::ShowWindow(m_pMainFrame.get());
    if (which == QLatin1String("alerts")) return AlertsWindow::ShowWindow(m_pMainFrame.get());
    if (which.startsWith(QLatin1String("all-servers"))) {
        AllServersWindow* window = AllServersWindow::ShowWindow(m_pMainFrame.get());
        if (which.endsWith(QLatin1String("-by-server"))) window->Pane()->SetGrouping(GroupBy::Server);
        return window;
    }
    if (which == QLatin1String("alert-rules")) {
        auto* dialog = new AlertsDialog(m_pMainFrame.get());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        return dialog;
    }
    if (which == QLatin1String("tray-menu") && m_pTray) {
        m_pTray->Menu()->adjustSize();
        return m_pTray->Menu();
    }
    return m_pMainFrame.get();
}

// As the Connect command does, but with the host already named: only when
// that fails does the Connect dialog ask.
void CVGLApp::ConnectSession(CVGLDoc& document, const QString& host,
                             const VGLCommandLine& options) {
    if (options.m_Period > 0) document.SetUpdatePeriod(options.m_Period);
    if (options.m_Keep > 0) document.SetConnectionLimit(options.m_Keep);
    document.SetFilterText(options.m_Filter);
    static const std::pair<const char*, GroupBy> groupings[] = {
        {"user", GroupBy::User},
        {"destination", GroupBy::Destination},
        {"service", GroupBy::Service},
        {"client", GroupBy::Client}};
    for (const auto& [name, by] : groupings) {
        if (options.m_GroupBy == QLatin1String(name)) document.SetGrouping(by);
    }
    document.MarkUnchanged();  // only what the user changes later asks to be saved
    if (!document.ConnectTo(host)) document.OnConnect();
}

void CVGLApp::OnHandOver(const QStringList& arguments) {
    VGLCommandLine handed;
    QString message;
    if (ParseCommandLine(QStringList{QStringLiteral("vgl")} + arguments, handed, message) !=
        CommandLineAction::Run) {
        GW_TRACE("a hand-over that is not a command line was ignored");
        return;
    }
    if (!m_pMainFrame) return;
    RaiseMainFrame();
    // A file that cannot be opened has been reported; the rest still open.
    for (const QString& path : handed.m_Files) {
        if (OpenDocumentFile(path) && m_CommandLine.m_bReportReady) {
            std::printf("vgl: opened %s\n", path.toLocal8Bit().constData());
        }
    }
    for (const QString& host : handed.m_ConnectHosts) {
        auto* document = dynamic_cast<CVGLDoc*>(OnFileNew());
        if (!document) continue;
        if (m_CommandLine.m_bReportReady) {
            std::printf("vgl: connecting %s\n", host.toLocal8Bit().constData());
        }
        ConnectSession(*document, host, handed);
    }
    std::fflush(stdout);
}

void CVGLApp::RaiseMainFrame() {
    if (m_pMainFrame->isMinimized()) m_pMainFrame->showNormal();
    m_pMainFrame->raise();
    m_pMainFrame->activateWindow();
}

void CVGLApp::ShowAboutBox() {
    AboutBox box(m_pMainFrame.get());
    GWExecDialog(box);
}

void CVGLApp::ShowIdentity() {
    IdentityDlg dialog(m_pMainFrame.get());
    GWExecDialog(dialog);
}

// The installed manual page, in the desktop's help viewer; without one, the
// box says how to read it in a terminal.
void CVGLApp::ShowManual() {
    if (GWOpenUrl(QUrl(QStringLiteral("man:vgl")))) return;
    GWMessageBox(QStringLiteral("No help viewer could open the manual page; read it with "
                                "\"man vgl\" in a terminal."),
                 m_pMainFrame.get());
}
