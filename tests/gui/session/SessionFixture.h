#pragma once
// A session as the program builds it, without the main window: the
// application object with its timer (ticked by hand), one document with its
// grid above its graph, and a fake monitor. Message boxes, the host-name
// dialog and the trace are captured.

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/base/Trace.h"
#include "gui/framework/Dialogs.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/ServerNameDlg.h"
#include "support/FakeMonitor.h"
#include "support/SessionSettle.h"
#include "support/TimerApp.h"

class ManualSystemTimer : public SystemTimer {
public:
    int32_t Create(uint32_t) override { return ++m_LastId; }
    void Kill(int32_t) override {}
    int32_t m_LastId = 0;
};

// The message of a session whose monitor went away.
inline const QString LostText =
    QStringLiteral("The server has been disconnected !\nVGL is reconnecting on its own.");

// One connection's open and update records.
inline std::vector<MonBytes> Connection(uint32_t id, const std::string& service, uint32_t in,
                                        uint32_t out, uint32_t startTime = 1700000000) {
    const std::string n = std::to_string(id);
    return {EncodeOpen(7, id, 0x02, startTime, "user" + n, EncodeSockAddr("10.0.0." + n, 40000),
                       "client" + n),
            EncodeUpdate(7, id, service, MonBytes{}, "", EncodeSockAddr("192.0.2.1", 80),
                         "dest" + n, in, out)};
}

inline std::vector<MonBytes> Join(std::vector<std::vector<MonBytes>> parts) {
    std::vector<MonBytes> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class SessionTest : public ::testing::Test {
protected:
    static constexpr const char* Cancel = "<cancel>";

    SessionTest() {
        GWTimer::UseSystemTimer(&m_SystemTimer);
        SetMessageBoxHook([this](const QString& text) { m_Messages << text; });
        SetDialogHook([this](QDialog& dialog) { return Answer(dialog); });
        SetTraceSink([this](const std::string& line) { m_Trace.push_back(line); });
        m_pDoc = std::make_unique<CVGLDoc>();
        m_pWindow = std::make_unique<QWidget>();
        m_pGrid = new GridView(m_pWindow.get());
        m_pGraph = new GraphView(m_pWindow.get());
        auto* layout = new QVBoxLayout(m_pWindow.get());
        layout->addWidget(m_pGrid, 1);
        layout->addWidget(m_pGraph, 1);
        m_pDoc->AddView(m_pGrid);
        m_pDoc->AddView(m_pGraph);
        m_pGrid->OnInitialUpdate();
        m_pGraph->OnInitialUpdate();
    }

    ~SessionTest() override {
        m_pWindow.reset();
        m_pDoc.reset();
        SetMessageBoxHook({});
        SetDialogHook({});
        SetTraceSink({});
        GWTimer::UseSystemTimer(nullptr);
    }

    // Answers the host-name dialog with the next queued answer; an empty
    // queue cancels.
    int Answer(QDialog& dialog) {
        auto* names = dynamic_cast<ServerNameDlg*>(&dialog);
        if (!names) return QDialog::Rejected;
        ++m_nDialogs;
        EXPECT_EQ(names->windowTitle(), "SOCKS5 Server");
        EXPECT_TRUE(names->NameEdit()->text().isEmpty());
        if (m_Answers.empty() || m_Answers.front() == Cancel) {
            if (!m_Answers.empty()) m_Answers.pop_front();
            names->CancelButton()->click();
        } else {
            names->NameEdit()->setText(QString::fromStdString(m_Answers.front()));
            m_Answers.pop_front();
            names->OkButton()->click();
        }
        return names->result();
    }

    void Connect(const std::string& host) {
        m_Answers.push_back(host);
        m_pDoc->OnConnect();
        Settle();
    }
    void Tick(int count = 1) {
        for (int i = 0; i < count; ++i) GWTimer::TimerProc(m_App.m_Timer.TimerId());
        Settle();
    }
    void Route(int id) {
        GWRouteCommand({m_pGrid, m_pDoc.get()}, id);
        Settle();
    }
    void Settle() { ASSERT_TRUE(SettleSession(m_pDoc.get())); }
    size_t TimerClients() const { return m_App.m_Timer.Clients().size(); }
    GWCmdUI Command(int id) const { return GWUpdateCommand({m_pGrid, m_pDoc.get()}, id); }
    int Rows() const { return m_pGrid->model()->rowCount(); }
    QString Cell(int row, int column) const {
        return m_pGrid->model()->index(row, column).data().toString();
    }
    // The newest graph value of the subset with this label.
    float Newest(const QString& label) const {
        GraphCtrl* graph = m_pGraph->GetGraph();
        for (int i = 0; i < graph->SubsetCount(); ++i) {
            if (graph->SubsetLabel(i) == label) return graph->Value(i, graph->PointCount() - 1);
        }
        ADD_FAILURE() << "no subset " << label.toStdString();
        return -1;
    }
    QStringList Labels() const {
        QStringList labels;
        GraphCtrl* graph = m_pGraph->GetGraph();
        for (int i = 0; i < graph->SubsetCount(); ++i) labels << graph->SubsetLabel(i);
        return labels;
    }
    bool Traced(const std::string& text) const {
        for (const std::string& line : m_Trace) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }

    TimerApp m_App;
    ManualSystemTimer m_SystemTimer;
    FakeMonitor m_Monitor;
    std::unique_ptr<CVGLDoc> m_pDoc;
    std::unique_ptr<QWidget> m_pWindow;
    GridView* m_pGrid = nullptr;
    GraphView* m_pGraph = nullptr;
    std::deque<std::string> m_Answers;
    int m_nDialogs = 0;
    QStringList m_Messages;
    std::vector<std::string> m_Trace;
};
