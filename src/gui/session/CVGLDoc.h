#pragma once
// One monitoring session: the connection to the monitor of one SOCKS5
// server, polled on the application's timer, with its grid and graph views.
// Its network steps run on a SessionWorker; the document starts them, goes
// on, and applies what arrived when the worker's result is posted back.

#include <QPointer>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/alert/ServerActivity.h"
#include "core/base/SessionLimits.h"
#include "core/history/HistoryRecorder.h"
#include "core/monitor/ReconnectPolicy.h"
#include "core/monitor/SessionWorker.h"
#include "core/table/PMCTable.h"
#include "core/table/TrafficPoint.h"
#include "core/view/ConnectionGroups.h"
#include "gui/framework/GWDocument.h"
#include "gui/session/SessionControl.h"
#include "gui/session/SessionSettings.h"
#include "gui/session/TrustPrompt.h"

class GraphView;
class GridView;
class QTimer;

class CVGLDoc : public GWDocument {
    Q_OBJECT
public:
    CVGLDoc();
    ~CVGLDoc() override;  // removes the timer client first

    void OnConnect();
    void OnDisconnect();
    // Asks for the host name (the dialog shows `name` first) and tries it;
    // a failed attempt tells the user and asks again, until a connection is
    // made or the user cancels.
    void ConnectLoop(const QString& name = QString());
    // One connection attempt to this host without asking (vgl --connect);
    // false for an empty name. When the attempt fails, the user gets the
    // message of a name typed in the dialog and the dialog with this name.
    bool ConnectTo(const QString& hostName);
    void Refresh(GWView* sender = nullptr, intptr_t hint = 0, QObject* hintObject = nullptr);
    // The seconds between two timer polls; a new period starts a new graph point.
    void SetUpdatePeriod(int32_t period);
    // What the views and dialogs change in the table goes through here.
    // The graph's services: the table counts exactly these names from now on,
    // each from 0, and takes a record named by a port number for its service.
    void SetServices(const std::vector<std::string>& names,
                     const std::map<std::string, int32_t>& portOfService);
    void SetDisplayOptions(int32_t hostForm, int32_t dataUnit);  // host names or addresses; unit
    void SetConnectionLimit(int32_t limit);
    static int OnTimerTick(uintptr_t document);  // the timer callback; returns 1
    void OnShowActive();
    void OnShowFailed();
    void OnCopyGraph();

    void DeleteContents() override;
    // A document holds the session's settings (SessionSettings); a 0-byte
    // file, as earlier versions wrote, opens as a new session does.
    void Serialize(QIODevice& file, bool storing) override;
    bool OnNewDocument() override;
    // Refuses, with a message, a file that is not a session document.
    bool OnOpenDocument(const QString& path) override;
    bool OnSaveDocument(const QString& path) override;
    // The frame's views are set up: the settings opened or kept as defaults
    // go into them, and a document that names a server connects to it.
    void OnViewsReady();
    // The settings differ from those last saved or opened (for a document
    // never saved: its options differ from those it started with).
    bool IsModified() const;
    // The settings as they are now count as unchanged: those the command
    // line gave a new session are not the user's changes.
    void MarkUnchanged();
    // Asks whether to save a modified document: false when the user
    // cancels or the save fails, so that closing stops.
    bool SaveModified() override;
    // Named after the server ("127.33.0.1"), else after the title.
    QString SuggestedFileName() const override;
    // The server and the state ("Connected to Socks5 server -- HOST",
    // "Disconnected from HOST"); empty before the first connection. The
    // title is this, after the file's name once the session has a file.
    const QString& SessionTitle() const { return m_SessionTitle; }

    // The server as the user gave it ("host", "host:port"), kept while
    // disconnected; empty before any.
    const QString& ServerName() const { return m_ServerName; }
    void SetServerName(const QString& name) { m_ServerName = name; }

    // A session that lost its monitor tries again on its own, waiting as
    // ReconnectPolicy says; the user's Disconnect or Connect stops it.
    bool IsReconnecting() const { return m_ReconnectLeft > 0 || m_bReconnectAttempt; }
    int ReconnectSecondsLeft() const { return m_ReconnectLeft; }
    // Starts the waiting attempt now, without waiting out the delay.
    void RetryNow();

    GraphView* GetGraphView() const;
    // Every window of the session has a graph; each gets the same points.
    std::vector<GraphView*> GetGraphViews() const;
    GridView* GetGridView() const;
    // The views read the table; only the document changes it.
    const PMCTable& GetTable() const { return m_Table; }

    int32_t m_bStopped = 1;
    int32_t m_bDisconnected = 1;
    PMCTable m_Table;
    int32_t m_UpdatePeriod = DefaultUpdatePeriod;

    // A connect or a poll is in flight (started, its result not yet applied
    // to the end: a large batch is applied a slice per turn of the event loop).
    // Until the answers of its control requests are told, too.
    bool IsBusy() const { return m_Worker.IsBusy() || m_bApplying || m_nAnswersDue > 0; }
    bool IsConnecting() const { return m_Worker.IsBusy() && !m_Table.IsConnected(); }
    // What the session is doing or why it ended ("Polling HOST…"). Between
    // polls of a link over TLS or ssh it says so ("Connected to HOST over
    // TLS (SHA256:…)").
    const QString& StatusText() const { return m_StatusText; }

    // What the connection's link is; meaningful while connected.
    const MonLinkInfo& Link() const { return m_Link; }
    // "encrypted (TLS, SHA256:…)", "encrypted (ssh)", "unencrypted"; empty
    // while disconnected.
    QString LinkDescription() const;
    // The question about an unknown monitor identity while it is up, else null.
    TrustPrompt* PendingTrustPrompt() const { return m_pTrustPrompt; }

    // Where a connect's result is taken in, on the document's thread, as the
    // worker posts it (for hostName, the connect in flight).
    void FinishConnect(const QString& hostName, SessionWorker::Result& result);

    // What the grid shows of the table: the filter line and the grouping.
    // They belong to the session, so that a stored session can keep them.
    const QString& FilterText() const { return m_FilterText; }
    void SetFilterText(const QString& text);
    GroupBy Grouping() const { return m_Grouping; }
    void SetGrouping(GroupBy by);

    // What the polls bring that the fleet's views and alerts watch, and what
    // the last poll brought.
    ServerActivity& Activity() { return m_Activity; }
    const ServerActivity& Activity() const { return m_Activity; }
    const PollActivity& LastActivity() const { return m_LastActivity; }
    // When the session last connected, was lost or was disconnected
    // (seconds since 1970); 0 before any of them.
    int64_t StateSince() const { return m_StateSince; }
    // The monitor was lost (not disconnected by the user), and not yet back.
    bool IsLost() const { return m_bLost; }
    // The alerts' filter lines this session's polls are matched against.
    void SetAlertFilters(const std::vector<std::string>& lines);
    // Keeps an alert of this session's server in the history.
    void RecordAlert(const std::string& text);

    // What the monitor lets this session do, and asking it: the request goes
    // out with a poll started at once (or right after the one in flight),
    // and `done` gets the answer, or a refusal when the session is not
    // connected or the link ends first.
    const SessionControl& Control() const { return m_Control; }
    void AskMonitor(const MonControlRequest& request, SessionControl::Done done);

    // Whether the timer client is registered, and with which period.
    bool HasTimerClient() const { return m_bTimerClient; }
    int32_t TimerClientPeriod() const { return m_TimerClientPeriod; }

signals:
    // The session connected, was disconnected or lost its connection.
    void stateChanged();
    // The status text or the busy state changed.
    void statusChanged();
    // The filter line or the grouping changed.
    void viewChoiceChanged();
    // The monitor closed connections, blocked or lifted a block at this
    // session's request.
    void monitorActed();

private:
    void StartConnect(const QString& hostName, bool keepName);
    void ScheduleReconnect();
    void StopReconnect();
    void OnReconnectTick();
    void ShowReconnectStatus();
    void SetDisconnectedTitle();
    void ShowSessionTitle(const QString& sessionTitle);
    void UpdateTitle();
    void OnWorkerDone();
    // A connect the link's safety refused: an unknown identity is asked
    // about, anything else told once per session and never trusted on its own.
    void RefusedForTrust(const QString& hostName, bool reconnect, const MonTrustProblem& problem);
    void AskTrust(const QString& hostName, bool reconnect, const MonTrustProblem& problem);
    void Trusted(const QString& hostName, bool reconnect, const MonTrustProblem& problem);
    void CloseTrustPrompt();
    // The status between polls: how the session is connected, else "Ready".
    QString IdleStatus() const;
    QString LinkStatus() const;
    void ConnectFailed(const QString& hostName, bool keepName);
    void FinishPoll(SessionWorker::Result& result);
    // Applies a slice of the batch; the next comes in a later turn of the
    // event loop, so that the window answers while a huge batch is applied.
    void ApplySlice(GWView* sender = nullptr, intptr_t hint = 0, QObject* hintObject = nullptr);
    void StopApplying();
    void SwitchShow(bool showActive);
    void AfterPoll(int32_t result, GWView* sender = nullptr, intptr_t hint = 0,
                   QObject* hintObject = nullptr);
    void CollectTraffic();
    void ShowDropped();
    void CancelWork();
    void SetStatus(const QString& text);
    void OnConnected(const QString& hostName);
    void SetState(bool connected);
    void StateBegins(bool lost);
    void RegisterTimerClient();
    void RemoveTimerClient();
    void RepaintMainWindow();
    // Hands what the session recorded to the history writer; says so in the
    // status when the writer is behind.
    void RecordHistory(HistoryBatch&& batch);

    bool m_bTimerClient = false;
    int32_t m_TimerClientPeriod = 0;
    SessionWorker m_Worker;
    QTimer* m_pSliceTimer = nullptr;  // the next slice of the batch being applied
    bool m_bTellPending = false;      // the batch is applied; the views are told next turn
    bool m_bApplying = false;
    QString m_ConnectHost;     // of the connect in flight
    bool m_bKeepName = false;  // ask again with that name when it fails
    QString m_StatusText;
    // The graph gets one point per update period: polls between two ticks
    // add their traffic to the point in progress, and the tick's poll
    // appends it. The first poll of a connection only sets the baseline: its
    // records carry what was moved before VGL connected.
    TrafficPoint m_Point;
    bool m_bBaseline = false;    // the next poll is the first of this connection
    bool m_bTickDue = false;     // a tick came: the next poll appends the point
    bool m_bBufferFull = false;  // the status line says that connections were dropped
    HistoryRecorder m_History;   // told by the table of what it applies
    ServerActivity m_Activity{&m_History};  // told first while it matches filter lines
    PollActivity m_LastActivity;
    int64_t m_StateSince = 0;
    bool m_bLost = false;

    QString m_ServerName;
    QString m_SessionTitle;
    std::unique_ptr<SessionSettings> m_pPendingSettings;  // for the views to come
    std::unique_ptr<SessionSettings> m_pSavedSettings;    // as last saved, opened or started
    ReconnectPolicy m_ReconnectPolicy;
    QTimer* m_pReconnectTimer = nullptr;  // once a second while a reconnect waits
    int m_ReconnectLeft = 0;              // seconds before the next attempt; 0: none waits
    bool m_bReconnectAttempt = false;     // the connect in flight is a reconnect
    bool m_bResumeSession = false;        // the next connect continues this session's data
    QString m_FilterText;
    GroupBy m_Grouping = GroupBy::Connection;
    MonLinkInfo m_Link;
    SessionControl m_Control;
    int m_nAnswersDue = 0;            // polls whose control answers are yet to be told
    bool m_bWarnUnencrypted = false;  // the status says "unencrypted" until the next tick
    bool m_bUnencryptedTold = false;  // said once this session
    bool m_bTrustTold = false;        // a refused identity was told once this session
    QPointer<TrustPrompt> m_pTrustPrompt;
};
