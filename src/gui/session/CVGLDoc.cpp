#include "gui/session/CVGLDoc.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstring>
#include <ctime>

#include "core/base/GWTimer.h"
#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonKnownMonitors.h"
#include "gui/control/BlocksWindow.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWApp.h"
#include "gui/framework/GWFrame.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridView.h"
#include "gui/history/HistoryService.h"
#include "gui/options/OptionPPT.h"
#include "gui/session/LostServersBox.h"
#include "gui/session/ServerNameDlg.h"
#include "gui/session/SessionDefaults.h"
#include "gui/session/SessionList.h"
#include "gui/session/TrustPrompt.h"

namespace {

const char* const InvalidServerText =
    "The Socks5 server name is Invalid\nor the Socks5 vigil is not running on the server.";
const char* const TitlePrefix = "Connected to Socks5 server -- ";
const char* const ReadyText = "Ready";
const char* const BufferFullText = "Buffer full: %1 connections not shown";

// The longest a slice of a batch may hold the event loop: half a frame of
// a 60 Hz screen, the other half left for painting and input.
constexpr std::chrono::milliseconds SliceTime{8};

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}
const char* const DisconnectedTitlePrefix = "Disconnected from ";

// The monitor's end of a connected socket is on this machine: plain text
// there is seen by no one else. Unknown counts as remote, to warn rather
// than stay quiet.
bool IsLoopbackPeer(MonSocket s) {
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    if (s < 0 || ::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
    if (peer.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (peer.ss_family != AF_INET6) return false;
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

QWidget* MainWindow() {
    GWApp* app = GWApp::Get();
    return dynamic_cast<QWidget*>(app ? app->GetMainFrame() : nullptr);
}

GWTimer* ApplicationTimer() {
    GWApp* app = GWApp::Get();
    return app ? app->GetTimer() : nullptr;
}

}  // namespace

CVGLDoc::CVGLDoc()
    : m_Worker([this] {
          // On the worker's thread: only post; the document is touched on its own thread.
          QMetaObject::invokeMethod(this, &CVGLDoc::OnWorkerDone, Qt::QueuedConnection);
      }),
      m_StatusText(QString::fromLatin1(ReadyText)) {
    m_Table.SetObserver(&m_History);
    m_pReconnectTimer = new QTimer(this);
    m_pReconnectTimer->setInterval(1000);
    connect(m_pReconnectTimer, &QTimer::timeout, this, &CVGLDoc::OnReconnectTick);
    m_pSliceTimer = new QTimer(this);
    m_pSliceTimer->setInterval(0);
    connect(m_pSliceTimer, &QTimer::timeout, this, [this] { ApplySlice(); });
    OnCommand(cmd::Connect, [this] { OnConnect(); });
    OnUpdateCommand(cmd::Connect, [this](GWCmdUI& ui) { ui.Enable(m_bDisconnected != 0); });
    OnCommand(cmd::Disconnect, [this] { OnDisconnect(); });
    // A connect in flight, and a lost session's reconnecting, can be given up as well.
    OnUpdateCommand(cmd::Disconnect, [this](GWCmdUI& ui) {
        ui.Enable(m_bDisconnected == 0 || IsConnecting() || IsReconnecting());
    });
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
    const GroupBy groupings[] = {GroupBy::Connection, GroupBy::User, GroupBy::Destination,
                                 GroupBy::Service, GroupBy::Client};
    for (int i = 0; i < 5; ++i) {
        const GroupBy by = groupings[i];
        OnCommand(cmd::GroupByConnection + i, [this, by] { SetGrouping(by); });
        OnUpdateCommand(cmd::GroupByConnection + i, [this, by](GWCmdUI& ui) {
            ui.Enable(true);
            ui.SetCheck(m_Grouping == by);
        });
    }
    OnCommand(cmd::CopyGraph, [this] { OnCopyGraph(); });
    OnCommand(cmd::ViewBlocks, [this] {
        GWApp* app = GWApp::Get();
        auto* owner = app ? dynamic_cast<QWidget*>(app->GetMainFrame()) : nullptr;
        if (owner) BlocksWindow::ShowFor(this, owner);
    });
    OnUpdateCommand(cmd::ViewBlocks, [this](GWCmdUI& ui) {
        ui.Enable(m_Table.IsConnected());
        ui.SetToolTip(m_Table.IsConnected() ? QString()
                                            : QStringLiteral("The session is not connected."));
    });
    OnCommand(cmd::Option, [this] { OptionPPT::RunFor(*this); });
    // Copying and printing are only offered while the session is not
    // connected. The grid view copies, the views print and the application
    // sets up the printer; the document only decides whether they may.
    for (int id : {cmd::CopyGraph, cmd::EditCopy, cmd::FilePrint, cmd::FilePrintSetup}) {
        OnUpdateCommand(id, [this](GWCmdUI& ui) { ui.Enable(m_bDisconnected != 0); });
    }
    SessionList& sessions = SessionList::Get();
    connect(this, &CVGLDoc::stateChanged, &sessions, [this] { SessionList::Get().Changed(this); });
    connect(this, &CVGLDoc::statusChanged, &sessions, [this] { SessionList::Get().Changed(this); });
    sessions.Add(this);
}

void CVGLDoc::SetFilterText(const QString& text) {
    if (text == m_FilterText) return;
    m_FilterText = text;
    emit viewChoiceChanged();
}

void CVGLDoc::SetGrouping(GroupBy by) {
    if (by == m_Grouping) return;
    m_Grouping = by;
    emit viewChoiceChanged();
}

CVGLDoc::~CVGLDoc() {
    // Nothing in flight may report to a destroyed document, and no tick may
    // reach it; after a lost connection the client is still registered.
    SessionList::Get().Remove(this);
    m_Worker.Cancel();
    CloseTrustPrompt();
    RemoveTimerClient();
    if (m_History.IsRecording()) RecordHistory(m_History.Disconnected(std::string(), Now()));
}

void CVGLDoc::OnConnect() {
    if (m_Table.IsConnected()) {
        Refresh();
        return;
    }
    StopReconnect();  // the user chooses the server now
    CancelWork();     // a connect still in flight is given up for the new one
    ConnectLoop();
}

void CVGLDoc::ConnectLoop(const QString& name) {
    ServerNameDlg dialog(MainWindow());
    dialog.NameEdit()->setText(name);
    if (GWExecDialog(dialog) != QDialog::Accepted) {
        SetState(false);
        RepaintMainWindow();
        return;
    }
    StartConnect(dialog.m_Name, false);
}

bool CVGLDoc::ConnectTo(const QString& hostName) {
    if (hostName.isEmpty()) return false;
    StopReconnect();
    StartConnect(hostName, true);
    return true;
}

void CVGLDoc::StartConnect(const QString& hostName, bool keepName) {
    // A second connection would orphan the first one's block.
    if (m_Table.IsConnected()) {
        CancelWork();
        m_Table.CloseConnection();
        RemoveTimerClient();
        SetState(false);
    }
    CancelWork();
    CloseTrustPrompt();
    // The user's own connect begins a new session for what is told once.
    m_bTrustTold = false;
    m_bUnencryptedTold = false;
    const std::string host = hostName.toStdString();
    if (host.empty()) {
        m_Table.CreateConnection(host);  // says so in the trace
        ConnectFailed(hostName, keepName);
        return;
    }
    m_ConnectHost = hostName;
    m_bKeepName = keepName;
    m_Worker.StartConnect(host, GetSessionLimits());
    SetStatus(QStringLiteral("Connecting to %1\u2026").arg(hostName));
}

void CVGLDoc::OnWorkerDone() {
    SessionWorker::Result result;
    if (!m_Worker.TakeResult(result)) return;  // given up meanwhile
    if (result.m_bConnect) {
        FinishConnect(m_ConnectHost, result);
    } else {
        FinishPoll(result);
    }
}

void CVGLDoc::FinishConnect(const QString& hostName, SessionWorker::Result& result) {
    const QString host = hostName;
    m_ConnectHost = hostName;
    const bool reconnect = m_bReconnectAttempt;
    m_bReconnectAttempt = false;
    m_Table.AdoptConnection(host.toStdString(), result.m_pConnection, result.m_Status);
    if (m_Table.IsConnected()) {
        m_ReconnectPolicy.Reset();
        m_bResumeSession = reconnect;
        m_Link = result.m_Link;
        m_Control.Connected(m_Link, result.m_Hello);
        const bool plainRemote = !m_Link.m_bEncrypted && !m_Link.m_bTunnel &&
                                 !IsLoopbackPeer(result.m_pConnection->m_Socket);
        m_bWarnUnencrypted = plainRemote && !m_bUnencryptedTold;
        m_bUnencryptedTold = m_bUnencryptedTold || plainRemote;
        OnConnected(host);
        SetStatus(IdleStatus());
        m_bResumeSession = false;
        LostServersBox::Recovered(m_ServerName);  // the loss it told of is over
        RepaintMainWindow();
        Refresh();
        return;
    }
    if (result.m_pConnection != nullptr) m_Table.CloseConnection();  // frees the failed block
    if (result.m_Trust.m_Kind != MonTrustFailure::None) {
        RefusedForTrust(host, reconnect, result.m_Trust);
        return;
    }
    if (reconnect) {
        // The loss was told once; the attempts go on quietly.
        ScheduleReconnect();
        return;
    }
    SetStatus(QStringLiteral("Connection to %1 failed: %2")
                  .arg(host, QString::fromStdString(result.m_ErrorText)));
    ConnectFailed(host, m_bKeepName);
}

void CVGLDoc::RefusedForTrust(const QString& hostName, bool reconnect,
                              const MonTrustProblem& problem) {
    if (problem.m_Kind == MonTrustFailure::Unknown) {
        AskTrust(hostName, reconnect, problem);
        return;
    }
    const QString text = QString::fromStdString(Mon_TrustProblemText(problem));
    SetStatus(QStringLiteral("Connection to %1 refused: %2").arg(hostName, text));
    // A lost session goes on trying quietly (the monitor's administrator may
    // put the right certificate back); a new one stays disconnected.
    if (reconnect) {
        ScheduleReconnect();
    } else {
        SetState(false);
    }
    if (m_bTrustTold) return;
    m_bTrustTold = true;
    GWMessageBox(text, MainWindow());
}

void CVGLDoc::AskTrust(const QString& hostName, bool reconnect, const MonTrustProblem& problem) {
    if (m_pTrustPrompt) return;  // one question at a time; the one up answers for this
    SetState(false);
    SetStatus(QStringLiteral("Waiting for the user to trust %1\u2026").arg(hostName));
    auto* prompt = new TrustPrompt(problem.m_MonitorKey, problem.m_Presented, MainWindow());
    m_pTrustPrompt = prompt;
    GWOpenDialog(*prompt, this, [this, prompt, hostName, reconnect, problem](int) {
        const bool trusted = prompt->IsTrusted();
        CloseTrustPrompt();
        if (trusted) {
            Trusted(hostName, reconnect, problem);
            return;
        }
        StopReconnect();
        SetStatus(
            QStringLiteral("Not connected: the identity of %1 was not trusted").arg(hostName));
    });
}

// The pin is written before the new attempt, whose check then finds it.
void CVGLDoc::Trusted(const QString& hostName, bool reconnect, const MonTrustProblem& problem) {
    const MonKnownMonitors known(Mon_TlsGetSettings().m_KnownMonitorsPath);
    std::string error;
    if (!known.Add(problem.m_MonitorKey, problem.m_Presented, error)) {
        const QString text = QStringLiteral("The identity of %1 could not be kept: %2")
                                 .arg(hostName, QString::fromStdString(error));
        SetStatus(text);
        GWMessageBox(text, MainWindow());
        return;
    }
    if (!reconnect) {
        StartConnect(hostName, m_bKeepName);
        return;
    }
    m_bReconnectAttempt = true;  // the session goes on with its entries and graph
    m_ConnectHost = hostName;
    m_Worker.StartConnect(hostName.toStdString(), GetSessionLimits());
    SetStatus(QStringLiteral("Reconnecting to %1\u2026").arg(hostName));
}

void CVGLDoc::CloseTrustPrompt() {
    if (!m_pTrustPrompt) return;
    TrustPrompt* prompt = m_pTrustPrompt;
    m_pTrustPrompt = nullptr;
    prompt->disconnect(this);
    prompt->deleteLater();
}

QString CVGLDoc::LinkDescription() const {
    if (!m_Table.IsConnected()) return QString();
    if (m_Link.m_bTunnel) return QStringLiteral("encrypted (ssh)");
    if (m_Link.m_bEncrypted) {
        return QStringLiteral("encrypted (TLS, %1)")
            .arg(QString::fromStdString(m_Link.m_Fingerprint));
    }
    return QStringLiteral("unencrypted");
}

QString CVGLDoc::LinkStatus() const {
    // The route is said in words: "tls://gate over TLS" would say it twice.
    QString host = m_ServerName;
    for (const char* route : {"tls://", "ssh://"}) {
        if (host.startsWith(QLatin1String(route))) host = host.mid(6);
    }
    if (m_Link.m_bTunnel) return QStringLiteral("Connected to %1 through ssh").arg(host);
    if (m_Link.m_bEncrypted) {
        return QStringLiteral("Connected to %1 over TLS (%2)")
            .arg(host, QString::fromStdString(m_Link.m_Fingerprint));
    }
    return QStringLiteral("Connected to %1, unencrypted").arg(m_ServerName);
}

// A plain link says nothing between polls, as it always has, except once
// per session when its monitor is beyond this machine.
QString CVGLDoc::IdleStatus() const {
    if (!m_Table.IsConnected()) return QString::fromLatin1(ReadyText);
    if (m_Link.m_bEncrypted || m_Link.m_bTunnel || m_bWarnUnencrypted) return LinkStatus();
    return QString::fromLatin1(ReadyText);
}

// Empty name, unknown host, nothing listening: one message for all; the
// detailed reason is in the status text.
void CVGLDoc::ConnectFailed(const QString& hostName, bool keepName) {
    GWMessageBox(QString::fromLatin1(InvalidServerText));
    ConnectLoop(keepName ? hostName : QString());
}

// A reconnect continues the session: its entries and graph stay, and the
// graph shows the time without a connection as one point of no traffic.
void CVGLDoc::OnConnected(const QString& hostName) {
    ShowSessionTitle(QString::fromLatin1(TitlePrefix) + hostName);
    m_ServerName = hostName;
    m_bDisconnected = 0;
    m_bStopped = 0;
    SetUpdatePeriod(m_UpdatePeriod);
    m_Point.Clear();
    m_bBaseline = true;
    m_bTickDue = false;
    if (m_bResumeSession) {
        for (GraphView* graph : GetGraphViews()) {
            std::map<std::string, uint64_t> gap;
            for (const std::string& name : graph->GetServiceList()) gap[name] = 0;
            graph->AppendData(gap);
        }
    } else {
        m_Table.ClearAll();  // a new connection starts with no entries
        for (GraphView* graph : GetGraphViews()) graph->ClearHistory();
    }
    m_History.Connected(hostName.toStdString(), Now());
    m_Activity.SetServer(hostName.toStdString());
    m_Activity.Connected();
    StateBegins(false);
    SetState(true);
}

void CVGLDoc::StateBegins(bool lost) {
    m_StateSince = Now();
    m_bLost = lost;
    SessionList::Get().Changed(this);
}

// Only filter lines need each record as it is applied: without them the
// table tells the history's recorder alone, as it always does.
void CVGLDoc::SetAlertFilters(const std::vector<std::string>& lines) {
    m_Activity.SetFilters(lines);
    m_Table.SetObserver(m_Activity.NeedsRecords() ? static_cast<TableObserver*>(&m_Activity)
                                                  : &m_History);
}

void CVGLDoc::RecordAlert(const std::string& text) {
    HistoryBatch batch;
    batch.m_Events.push_back(HistoryEvent{m_ServerName.toStdString(), Now(), HistoryEvent::Alert, text});
    RecordHistory(std::move(batch));
}

// Never two polls at once on one connection: a tick or an activation change
// while one is in flight starts nothing.
void CVGLDoc::Refresh(GWView* sender, intptr_t hint, QObject* hintObject) {
    if (!m_Table.IsConnected() || IsBusy()) return;
    if (!m_Table.NeedsRead()) {
        // The rest of a batch is here already: no network step.
        ApplySlice(sender, hint, hintObject);
        return;
    }
    MonBatch batch;
    MonitorConnection* connection = m_Table.LendConnection(batch);
    m_Worker.StartPoll(connection, batch, GetSessionLimits(), m_Control.TakeWaiting());
    SetStatus(QStringLiteral("Polling %1\u2026").arg(QString::fromStdString(m_Table.ServerName())));
}

void CVGLDoc::FinishPoll(SessionWorker::Result& result) {
    if (!result.m_Controls.empty()) {
        ++m_nAnswersDue;
        auto tell = m_Control.Answered(std::move(result.m_Replies),
                                       QString::fromStdString(result.m_ErrorText));
        QTimer::singleShot(0, this, [this, tell = std::move(tell)] {
            --m_nAnswersDue;
            tell();
        });
    }
    if (!m_Table.TakeBatch(result.m_pConnection, result.m_Batch)) {
        SetStatus(IdleStatus());
        AfterPoll(0);
        return;
    }
    ApplySlice();
}

// The poll ends with the batch's last slice; until then the status still
// says that the session is polling, and no other poll starts.
void CVGLDoc::ApplySlice(GWView* sender, intptr_t hint, QObject* hintObject) {
    const int32_t result = m_Table.ApplySlice(std::chrono::steady_clock::now() + SliceTime);
    if (result == PMCTable::ApplyMore) {
        if (!m_bApplying) {
            m_bApplying = true;
            m_pSliceTimer->start();
            emit statusChanged();  // busy
        }
        return;
    }
    // A batch applied in slices is told in a turn of its own: the table's
    // last slice and the views' update of 100,000 rows make two frames'
    // work. The session stays busy until then.
    if (m_bApplying && !sender && !hintObject) {
        m_pSliceTimer->stop();
        m_bTellPending = true;
        QTimer::singleShot(0, this, [this, result, hint] {
            if (!m_bTellPending) return;  // the work was cancelled meanwhile
            StopApplying();
            SetStatus(IdleStatus());
            AfterPoll(result, nullptr, hint, nullptr);
        });
        return;
    }
    StopApplying();
    SetStatus(IdleStatus());
    // The views were told nothing meanwhile: they are told once, now.
    AfterPoll(result, sender, hint, hintObject);
}

void CVGLDoc::StopApplying() {
    m_bTellPending = false;
    m_pSliceTimer->stop();
    m_bApplying = false;
}

void CVGLDoc::AfterPoll(int32_t result, GWView* sender, intptr_t hint, QObject* hintObject) {
    if (result < 0) {
        m_Control.Disconnected(QString::fromStdString(m_Table.LastErrorText()));
        // The table has closed the connection and keeps its entries. The
        // flags are set before the message, so ticks that arrive while it is
        // up do nothing and it shows once.
        StateBegins(true);
        SetState(false);
        SetStatus(QStringLiteral("Disconnected: %1")
                      .arg(QString::fromStdString(m_Table.LastErrorText())));
        RecordHistory(m_History.Disconnected(m_Table.LastErrorText(), Now()));
        ScheduleReconnect();
        LostServersBox::Report(m_ServerName.isEmpty() ? QString::fromStdString(m_Table.ServerName())
                                                      : m_ServerName);
        return;
    }
    CollectTraffic();
    ShowDropped();
    HistoryBatch batch = m_History.PeriodDone(m_Table, Now());
    m_LastActivity = m_Activity.PollDone(Now(), batch);
    RecordHistory(std::move(batch));
    UpdateAllViews(sender, hint, hintObject);
    SessionList::Get().Polled(this);
    // A request that came while this poll was on its way goes out now.
    if (m_Control.HasWaiting()) QTimer::singleShot(0, this, [this] { Refresh(); });
}

void CVGLDoc::AskMonitor(const MonControlRequest& request, SessionControl::Done done) {
    if (!m_Table.IsConnected()) {
        SessionControl idle;
        idle.Ask(request, std::move(done));
        idle.Disconnected(QStringLiteral("the session is not connected"));
        return;
    }
    const bool changes =
        request.m_Op != MonControlOp::ListBlocks && request.m_Op != MonControlOp::Hello;
    QPointer<CVGLDoc> self = this;
    m_Control.Ask(request,
                  [self, changes, done = std::move(done)](const SessionWorker::Reply& reply) {
                      if (done) done(reply);
                      if (self && changes && reply.m_Answer.m_Status == MonControlStatus::Done) {
                          emit self->monitorActed();
                      }
                  });
    Refresh();
}

void CVGLDoc::CollectTraffic() {
    if (m_bBaseline) {
        m_bBaseline = false;
        m_bTickDue = false;
        m_Point.Clear();
        return;
    }
    m_Table.FeedGraph(m_Point);
    if (!m_bTickDue) return;
    m_bTickDue = false;
    for (GraphView* graph : GetGraphViews()) graph->AppendData(m_Point.Values());
    m_Point.Clear();
}

// Said where the user looks, until a poll drops none.
void CVGLDoc::ShowDropped() {
    const size_t dropped = m_Table.DroppedCount();
    if (dropped > 0) {
        m_bBufferFull = true;
        SetStatus(QString::fromLatin1(BufferFullText).arg(dropped));
    } else if (m_bBufferFull) {
        m_bBufferFull = false;
        SetStatus(IdleStatus());
    }
}

void CVGLDoc::SetUpdatePeriod(int32_t period) {
    // A period given while disconnected is kept for the next connection. The
    // time axis is relabelled only then too: the points on show were polled
    // at the old period.
    m_UpdatePeriod = period;
    if (!m_Table.IsConnected()) return;
    m_Point.Clear();
    m_bTickDue = false;
    RegisterTimerClient();
    for (GraphView* graph : GetGraphViews()) graph->SetTimeLabels(m_UpdatePeriod);
}

void CVGLDoc::SetServices(const std::vector<std::string>& names,
                          const std::map<std::string, int32_t>& portOfService) {
    m_Table.SetServices(names);
    m_Table.SetServicePorts(portOfService);
}

void CVGLDoc::SetDisplayOptions(int32_t hostForm, int32_t dataUnit) {
    m_Table.SetDisplayOptions(hostForm, dataUnit);
}

void CVGLDoc::SetConnectionLimit(int32_t limit) {
    m_Table.SetConnectionLimit(static_cast<size_t>(limit));
}

int CVGLDoc::OnTimerTick(uintptr_t document) {
    auto* doc = reinterpret_cast<CVGLDoc*>(document);
    if (doc == nullptr || doc->m_bStopped != 0 || doc->m_bDisconnected != 0) return 1;
    // A poll still in flight (one the user started) then ends the period.
    doc->m_bTickDue = true;
    doc->m_bWarnUnencrypted = false;  // it stood for one period
    doc->Refresh();
    return 1;
}

void CVGLDoc::OnDisconnect() {
    StopReconnect();
    CloseTrustPrompt();
    DeleteContents();
    StateBegins(false);
    SetState(false);
    RemoveTimerClient();
    SetStatus(QStringLiteral("Disconnected"));
    RecordHistory(m_History.Disconnected(std::string(), Now()));
}

void CVGLDoc::OnShowActive() {
    SwitchShow(true);
}

void CVGLDoc::OnShowFailed() {
    SwitchShow(false);
}

// The switch polls, as a refresh does; while a poll is in flight (up to its
// deadline with a stalled monitor) the grid shows the other list at once
// instead of waiting for it, and the graph gets no extra point.
void CVGLDoc::SwitchShow(bool showActive) {
    m_Table.SetShowActive(showActive);
    if (!m_Table.IsConnected() || !IsBusy()) {
        Refresh();
        return;
    }
    m_Table.RelistForShow();
    if (GridView* grid = GetGridView()) grid->OnUpdate(nullptr, 0, nullptr);
}

void CVGLDoc::OnCopyGraph() {
    if (GraphView* graph = GetGraphView()) graph->CopyToClipboard();
}

// Gives up what is in flight without waiting on the network; the worker
// closes the connection it holds.
void CVGLDoc::DeleteContents() {
    CancelWork();
    m_Control.Disconnected(QStringLiteral("the session was disconnected"));
    if (m_Table.IsConnected()) m_Table.CloseConnection();
}

void CVGLDoc::CancelWork() {
    if (!IsBusy()) return;
    m_Worker.Cancel();
    StopApplying();
    SetStatus(IdleStatus());
}

void CVGLDoc::SetStatus(const QString& text) {
    m_StatusText = text;
    emit statusChanged();
}

// The settings only: a session's live data is never saved.
void CVGLDoc::Serialize(QIODevice& file, bool storing) {
    if (storing) {
        file.write(SessionSettings::Capture(*this).ToJson());
        return;
    }
    auto settings = std::make_unique<SessionSettings>(SessionDefaults::Load());
    const QByteArray text = file.readAll();
    QString error;
    if (!text.trimmed().isEmpty()) settings->ReadJson(text, error);
    m_pPendingSettings = std::move(settings);
    m_pSavedSettings.reset();
}

bool CVGLDoc::OnNewDocument() {
    if (!GWDocument::OnNewDocument()) return false;
    m_pPendingSettings = std::make_unique<SessionSettings>(SessionDefaults::Load());
    m_pSavedSettings.reset();
    return true;
}

bool CVGLDoc::OnOpenDocument(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.readAll();
        SessionSettings check;
        QString error;
        if (!text.trimmed().isEmpty() && !check.ReadJson(text, error)) {
            GWMessageBox(QStringLiteral("Cannot open the file %1:\n%2")
                             .arg(QFileInfo(path).fileName(), error));
            return false;
        }
    }
    return GWDocument::OnOpenDocument(path);
}

bool CVGLDoc::OnSaveDocument(const QString& path) {
    const SessionSettings saved = SessionSettings::Capture(*this);
    if (!GWDocument::OnSaveDocument(path)) return false;
    m_pSavedSettings = std::make_unique<SessionSettings>(saved);
    UpdateTitle();  // the file's name alone would hide the server and the state
    return true;
}

void CVGLDoc::OnViewsReady() {
    if (m_pPendingSettings) {
        const std::unique_ptr<SessionSettings> settings = std::move(m_pPendingSettings);
        settings->ApplyTo(*this);
        if (settings->m_bConnectOnOpen && !settings->m_Server.isEmpty() && !m_Table.IsConnected() &&
            !m_Worker.IsBusy()) {
            ConnectTo(settings->m_Server);
        }
    }
    if (!m_pSavedSettings) MarkUnchanged();
}

// A session never saved has no server of its own to lose: only changed
// options make it worth asking about.
bool CVGLDoc::IsModified() const {
    if (!m_pSavedSettings) return false;
    const SessionSettings now = SessionSettings::Capture(*this);
    return GetPathName().isEmpty() ? !now.SameOptions(*m_pSavedSettings)
                                   : !(now == *m_pSavedSettings);
}

void CVGLDoc::MarkUnchanged() {
    m_pSavedSettings = std::make_unique<SessionSettings>(SessionSettings::Capture(*this));
}

bool CVGLDoc::SaveModified() {
    if (!IsModified()) return true;
    // A saved session is named by its file, as the title says the state as well.
    const QString name = GetPathName().isEmpty() ? GetTitle() : QFileInfo(GetPathName()).fileName();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("VGL"),
                    QStringLiteral("Save changes to %1?").arg(name),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, MainWindow());
    box.setDefaultButton(QMessageBox::Yes);
    const int result = GWExecDialog(box);
    QAbstractButton* clicked = box.clickedButton();
    const int answer = clicked ? static_cast<int>(box.standardButton(clicked)) : result;
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::Yes) return DoFileSave();
    return true;
}

// "[::1]:6000" becomes "::1_6000", "tls://gate" "gate", "ssh://me@gate" "gate":
// brackets, the port's colon and the route's slashes do not belong in a
// file name.
QString CVGLDoc::SuggestedFileName() const {
    if (m_ServerName.isEmpty()) return GetTitle();
    MonHostForm form;
    if (!Mon_ParseHostForm(m_ServerName.toStdString(), form)) {
        return QString(m_ServerName).replace('/', '_').replace(':', '_');
    }
    if (form.m_Route == MonRoute::Ssh) return QString::fromStdString(form.m_SshHost);
    QString name = QString::fromStdString(form.m_Host);
    if (form.m_Port != MonitorPort) name += QStringLiteral("_%1").arg(form.m_Port);
    return name;
}

void CVGLDoc::ScheduleReconnect() {
    if (m_ServerName.isEmpty()) return;
    m_ReconnectLeft = m_ReconnectPolicy.NextDelay(m_UpdatePeriod);
    m_pReconnectTimer->start();
    ShowReconnectStatus();
}

void CVGLDoc::StopReconnect() {
    m_pReconnectTimer->stop();
    m_ReconnectLeft = 0;
    m_ReconnectPolicy.Reset();
    if (m_bReconnectAttempt) {
        m_bReconnectAttempt = false;
        CancelWork();
    }
}

void CVGLDoc::OnReconnectTick() {
    if (m_ReconnectLeft <= 0) return;
    if (--m_ReconnectLeft > 0) {
        ShowReconnectStatus();
        return;
    }
    RetryNow();
}

// The attempt runs on the worker like any connect; only its failure is
// quiet and schedules the next one.
void CVGLDoc::RetryNow() {
    if (!m_pReconnectTimer->isActive() || m_Table.IsConnected() || m_Worker.IsBusy()) return;
    m_pReconnectTimer->stop();
    m_ReconnectLeft = 0;
    m_bReconnectAttempt = true;
    m_ConnectHost = m_ServerName;
    m_Worker.StartConnect(m_ServerName.toStdString(), GetSessionLimits());
    SetStatus(QStringLiteral("Reconnecting to %1\u2026").arg(m_ServerName));
}

void CVGLDoc::ShowReconnectStatus() {
    SetStatus(
        QStringLiteral("Reconnecting to %1 in %2 s\u2026").arg(m_ServerName).arg(m_ReconnectLeft));
}

void CVGLDoc::SetDisconnectedTitle() {
    if (!m_ServerName.isEmpty())
        ShowSessionTitle(QString::fromLatin1(DisconnectedTitlePrefix) + m_ServerName);
}

void CVGLDoc::ShowSessionTitle(const QString& sessionTitle) {
    m_SessionTitle = sessionTitle;
    UpdateTitle();
}

// "watch.vgl - Connected to Socks5 server -- gate": the file says which
// document it is, the rest what the session is doing, before and after a save.
void CVGLDoc::UpdateTitle() {
    if (GetPathName().isEmpty()) {
        if (!m_SessionTitle.isEmpty()) SetTitle(m_SessionTitle);
        return;
    }
    const QString file = QFileInfo(GetPathName()).fileName();
    SetTitle(m_SessionTitle.isEmpty() ? file : file + QStringLiteral(" - ") + m_SessionTitle);
}

GraphView* CVGLDoc::GetGraphView() const {
    return FindView<GraphView>();
}

std::vector<GraphView*> CVGLDoc::GetGraphViews() const {
    std::vector<GraphView*> graphs;
    for (GWView* view : GetViews()) {
        if (auto* graph = dynamic_cast<GraphView*>(view)) graphs.push_back(graph);
    }
    return graphs;
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
    if (!connected) SetDisconnectedTitle();
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

void CVGLDoc::RecordHistory(HistoryBatch&& batch) {
    if (batch.IsEmpty()) return;
    if (!HistoryService::Instance().Submit(std::move(batch))) {
        SetStatus(QStringLiteral("History is behind: older periods were merged"));
    }
}

void CVGLDoc::RepaintMainWindow() {
    if (QWidget* window = MainWindow()) window->update();
}
