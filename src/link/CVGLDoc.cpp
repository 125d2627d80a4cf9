#include "link/CVGLDoc.h"

#include <QWidget>

#include "framework/CommandIds.h"
#include "framework/Dialogs.h"
#include "framework/GWFrame.h"
#include "graph/GraphView.h"
#include "link/ServerNameDlg.h"
#include "options/OptionPPT.h"
#include "records/GridView.h"
#include "zadadir/GWWinApp.h"

namespace {

const char* const InvalidServerText =
    "The Socks5 server name is Invalid\nor the Socks5 vigil is not running on the server.";
const char* const DisconnectedText = "The server has been disconnected !";
const char* const TitlePrefix = "Connected to Socks5 server -- ";

QWidget* MainWindow() {
    GWApp* app = GWApp::Get();
    return dynamic_cast<QWidget*>(app ? app->GetMainFrame() : nullptr);
}

GWTimer* ApplicationTimer() {
    GWWinApp* app = GWWinApp::Get();
    return app ? &app->m_Timer : nullptr;
}

}  // namespace

CVGLDoc::CVGLDoc() {
    OnCommand(cmd::Connect, [this] { OnConnect(); });
    OnUpdateCommand(cmd::Connect, [this](GWCmdUI& ui) { ui.Enable(m_bDisconnected != 0); });
    OnCommand(cmd::Disconnect, [this] { OnDisconnect(); });
    OnUpdateCommand(cmd::Disconnect, [this](GWCmdUI& ui) { ui.Enable(m_bDisconnected == 0); });
    OnCommand(cmd::ShowActive, [this] { OnShowActive(); });
    OnUpdateCommand(cmd::ShowActive, [this](GWCmdUI& ui) {
        ui.Enable(true);
        ui.SetCheck(m_Table.IsShowActive());
    });
    OnCommand(cmd::ShowFailed, [this] { OnShowFailed(); });
    OnUpdateCommand(cmd::ShowFailed, [this](GWCmdUI& ui) {
        ui.Enable(true);
        ui.SetCheck(!m_Table.IsShowActive());
    });
    OnCommand(cmd::CopyGraph, [this] { OnCopyGraph(); });
    OnCommand(cmd::Option, [this] { OptionPPT::RunFor(*this); });
    // Copying and printing are only offered while the session is not
    // connected. The grid view copies, the views print and the application
    // sets up the printer; the document only decides whether they may.
    for (int id : {cmd::CopyGraph, cmd::EditCopy, cmd::FilePrint, cmd::FilePrintSetup}) {
        OnUpdateCommand(id, [this](GWCmdUI& ui) { ui.Enable(m_bDisconnected != 0); });
    }
}

CVGLDoc::~CVGLDoc() {
    // No tick may reach a destroyed document; after a lost connection the
    // client is still registered.
    RemoveTimerClient();
}

void CVGLDoc::OnConnect() {
    if (m_Table.IsConnected()) {
        Refresh();
        return;
    }
    ConnectLoop();
    RepaintMainWindow();
    Refresh();
}

void CVGLDoc::ConnectLoop() {
    for (;;) {
        ServerNameDlg dialog(MainWindow());
        if (GWExecDialog(dialog) != QDialog::Accepted) {
            SetState(false);
            return;
        }
        if (Attempt(dialog.m_Name.toStdString())) {
            OnConnected(dialog.m_Name);
            return;
        }
        // Empty name, unknown host, nothing listening: one message for all;
        // the detailed reason stays in the trace.
        GWMessageBox(QString::fromLatin1(InvalidServerText));
    }
}

bool CVGLDoc::ConnectTo(const QString& hostName) {
    if (!Attempt(hostName.toStdString())) return false;
    OnConnected(hostName);
    RepaintMainWindow();
    Refresh();
    return true;
}

bool CVGLDoc::Attempt(const std::string& hostName) {
    // A second connection would orphan the first one's block.
    if (m_Table.IsConnected()) {
        m_Table.CloseConnection();
        RemoveTimerClient();
        SetState(false);
    }
    m_Table.CreateConnection(hostName);
    if (hostName.empty()) return false;
    if (m_Table.IsConnected()) return true;
    m_Table.CloseConnection();  // frees the failed connection block
    return false;
}

void CVGLDoc::OnConnected(const QString& hostName) {
    SetTitle(QString::fromLatin1(TitlePrefix) + hostName);
    m_bDisconnected = 0;
    m_bStopped = 0;
    SetUpdatePeriod(m_UpdatePeriod);
    m_Table.ClearAll();  // a new connection starts with no entries
    if (GraphView* graph = GetGraphView()) graph->ClearHistory();
    SetState(true);
}

void CVGLDoc::Refresh(GWView* sender, intptr_t hint, QObject* hintObject) {
    if (!m_Table.IsConnected()) return;
    if (m_Table.Poll() < 0) {
        // The table has closed the connection and keeps its entries. The
        // flags are set before the message, so ticks that arrive while it is
        // up do nothing and it shows once.
        SetState(false);
        GWMessageBox(QString::fromLatin1(DisconnectedText));
        return;
    }
    UpdateAllViews(sender, hint, hintObject);
}

void CVGLDoc::SetUpdatePeriod(int32_t period) {
    // A period given while disconnected is kept for the next connection. The
    // time axis is relabelled only then too: the points on show were polled
    // at the old period.
    m_UpdatePeriod = period;
    if (!m_Table.IsConnected()) return;
    RegisterTimerClient();
    if (GraphView* graph = GetGraphView()) graph->SetTimeLabels(m_UpdatePeriod);
}

int CVGLDoc::OnTimerTick(uintptr_t document) {
    auto* doc = reinterpret_cast<CVGLDoc*>(document);
    if (doc != nullptr && doc->m_bStopped == 0 && doc->m_bDisconnected == 0) doc->Refresh();
    return 1;
}

void CVGLDoc::OnDisconnect() {
    DeleteContents();
    SetState(false);
    RemoveTimerClient();
}

void CVGLDoc::OnShowActive() {
    m_Table.SetShowActive(true);
    Refresh();
}

void CVGLDoc::OnShowFailed() {
    m_Table.SetShowActive(false);
    Refresh();
}

void CVGLDoc::OnCopyGraph() {
    if (GraphView* graph = GetGraphView()) graph->CopyToClipboard();
}

void CVGLDoc::DeleteContents() {
    if (m_Table.IsConnected()) m_Table.CloseConnection();
}

void CVGLDoc::Serialize(QIODevice&, bool) {
    // A session stores nothing: its live data is never saved.
}

GraphView* CVGLDoc::GetGraphView() const {
    return FindView<GraphView>();
}

GridView* CVGLDoc::GetGridView() const {
    return FindView<GridView>();
}

void CVGLDoc::SetState(bool connected) {
    const int32_t flag = connected ? 0 : 1;
    const bool changed = m_bDisconnected != flag || m_bStopped != flag;
    m_bDisconnected = flag;
    m_bStopped = flag;
    if (!changed) return;
    emit stateChanged();
    GWApp* app = GWApp::Get();
    if (GWMainFrame* frame = app ? app->GetMainFrame() : nullptr) frame->UpdateCommandStates();
}

void CVGLDoc::RegisterTimerClient() {
    GWTimer* timer = ApplicationTimer();
    if (!timer) return;
    // The client is replaced, never doubled: it is removed under the period
    // it was registered with, which may differ from the new one.
    RemoveTimerClient();
    timer->Set(m_UpdatePeriod, &CVGLDoc::OnTimerTick, reinterpret_cast<uintptr_t>(this), 1);
    m_bTimerClient = true;
    m_TimerClientPeriod = m_UpdatePeriod;
}

void CVGLDoc::RemoveTimerClient() {
    if (!m_bTimerClient) return;
    if (GWTimer* timer = ApplicationTimer()) {
        timer->Reset(m_TimerClientPeriod, &CVGLDoc::OnTimerTick, reinterpret_cast<uintptr_t>(this));
    }
    m_bTimerClient = false;
}

void CVGLDoc::RepaintMainWindow() {
    if (QWidget* window = MainWindow()) window->update();
}
