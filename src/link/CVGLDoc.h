#pragma once
// One monitoring session: the connection to the monitor of one SOCKS5
// server, polled on the application's timer, with its grid and graph views.

#include <QString>
#include <cstdint>
#include <string>

#include "framework/GWDocument.h"
#include "link/PMCTable.h"

class GraphView;
class GridView;

class CVGLDoc : public GWDocument {
    Q_OBJECT
public:
    CVGLDoc();
    ~CVGLDoc() override;  // removes the timer client first

    void OnConnect();
    void OnDisconnect();
    // Asks for the host name until a connection is made or the user cancels.
    void ConnectLoop();
    // One connection attempt to this host without asking (vgl --connect);
    // true when connected.
    bool ConnectTo(const QString& hostName);
    void Refresh(GWView* sender = nullptr, intptr_t hint = 0, QObject* hintObject = nullptr);
    void SetUpdatePeriod(int32_t period);
    static int OnTimerTick(uintptr_t document);  // the timer callback; returns 1
    void OnShowActive();
    void OnShowFailed();
    void OnCopyGraph();

    void DeleteContents() override;
    void Serialize(QIODevice& file, bool storing) override;

    GraphView* GetGraphView() const;
    GridView* GetGridView() const;
    PMCTable& GetTable() { return m_Table; }

    int32_t m_bStopped = 1;
    int32_t m_bDisconnected = 1;
    PMCTable m_Table;
    int32_t m_UpdatePeriod = 60;

    // Whether the timer client is registered, and with which period.
    bool HasTimerClient() const { return m_bTimerClient; }
    int32_t TimerClientPeriod() const { return m_TimerClientPeriod; }

signals:
    // The session connected, was disconnected or lost its connection.
    void stateChanged();

private:
    bool Attempt(const std::string& hostName);  // one CreateConnection; true when connected
    void OnConnected(const QString& hostName);
    void SetState(bool connected);
    void RegisterTimerClient();
    void RemoveTimerClient();
    void RepaintMainWindow();

    bool m_bTimerClient = false;
    int32_t m_TimerClientPeriod = 0;
};
