// The session document against the fake monitor: connecting through the
// host-name dialog, polling on the application's timer, losing and dropping
// the connection, command enabling, and the empty document files.

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

#include "SessionFixture.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/session/LostServersBox.h"

namespace {

const QString InvalidText =
    "The Socks5 server name is Invalid\nor the Socks5 vigil is not running on the server.";

TEST_F(SessionTest, ConnectPollsAtOnceThenOnTheSixtiethTick) {
    m_Monitor.QueueBatch(Connection(1, "www", 100, 200));
    m_Monitor.QueueBatch(
        Join({Connection(2, "telnet", 5, 5), {EncodeUpdate(7, 1, "", {}, "", {}, "", 400, 300)}}));
    Connect(m_Monitor.Host());

    EXPECT_EQ(m_pDoc->GetTitle(),
              QString("Connected to Socks5 server -- ") + QString::fromStdString(m_Monitor.Host()));
    EXPECT_EQ(m_pDoc->m_bDisconnected, 0);
    EXPECT_EQ(m_pDoc->m_bStopped, 0);
    EXPECT_EQ(m_Monitor.RequestCount(), 1u);
    ASSERT_EQ(TimerClients(), 1u);
    EXPECT_EQ(m_App.m_Timer.Clients()[0].m_Period, 60);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), "user1");
    EXPECT_EQ(Newest("www(80)"), 0.0f);  // the first poll is a baseline
    // The time axis counts back from the newest point in periods.
    EXPECT_EQ(m_pGraph->GetGraph()->PointLabel(0), "780");
    EXPECT_EQ(m_pGraph->GetGraph()->PointLabel(13), "0");

    Tick(59);
    EXPECT_EQ(m_Monitor.RequestCount(), 1u);
    Tick();
    EXPECT_EQ(m_Monitor.RequestCount(), 2u);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, 3), "telnet");
    EXPECT_EQ(Newest("www(80)"), 400.0f);  // 700 in all, 300 before
    EXPECT_EQ(Newest("telnet(23)"), 10.0f);
    EXPECT_TRUE(m_Messages.isEmpty());
}

// Connections 1..count, each opened and moving a byte each way.
std::vector<MonBytes> Opened(uint32_t count) {
    std::vector<MonBytes> records;
    for (uint32_t id = 1; id <= count; ++id) {
        records.push_back(EncodeOpen(7, id, 0x02, 1700000000, "user" + std::to_string(id),
                                     EncodeSockAddr("10.0.0.1", 40000), "client"));
        records.push_back(
            EncodeUpdate(7, id, "www", {}, "", EncodeSockAddr("192.0.2.1", 80), "dest", 1, 1));
    }
    return records;
}

TEST_F(SessionTest, AFullTableSaysHowManyItDroppedUntilAPollDropsNone) {
    m_Monitor.QueueBatch(Opened(53));
    m_Monitor.QueueBatch({});
    Connect(m_Monitor.Host());
    EXPECT_EQ(Rows(), 51);  // more than 50 refuses: the 52nd and the 53rd
    EXPECT_EQ(m_pDoc->StatusText(), "Buffer full: 2 connections not shown");
    EXPECT_TRUE(Traced("Buffer full"));
    Tick(60);
    EXPECT_EQ(m_pDoc->StatusText(), "Ready");

    m_pDoc->OnDisconnect();
    m_pDoc->m_Table.SetConnectionLimit(1000);
    m_Monitor.QueueBatch(Opened(1000));
    Connect(m_Monitor.Host());
    EXPECT_EQ(Rows(), 1000);
    EXPECT_EQ(m_pDoc->StatusText(), "Ready");
}

TEST_F(SessionTest, ShowFailedAndShowActiveSwitchTheRowsAndTheirChecks) {
    m_Monitor.QueueBatch(Join({Connection(1, "www", 1, 1),
                               Connection(2, "ftp", 1, 1),
                               {EncodeResult(7, 2, 5, "refused"), EncodeClose(7, 2)}}));
    Connect(m_Monitor.Host());
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(Command(cmd::ShowActive).m_bChecked);
    EXPECT_FALSE(Command(cmd::ShowFailed).m_bChecked);

    Route(cmd::ShowFailed);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), "user2");
    EXPECT_TRUE(Command(cmd::ShowFailed).m_bChecked);
    EXPECT_FALSE(Command(cmd::ShowActive).m_bChecked);

    Route(cmd::ShowActive);
    EXPECT_EQ(Cell(0, 2), "user1");
    EXPECT_EQ(m_Monitor.RequestCount(), 3u);
}

TEST_F(SessionTest, LostConnectionShowsOnceKeepsRowsAndReconnectKeepsOneTimerClient) {
    m_Monitor.QueueBatch(Connection(1, "www", 1, 1));
    m_Monitor.QueueReply({FakeStep::Close()});
    Connect(m_Monitor.Host());
    Tick(60);
    EXPECT_EQ(m_Messages, QStringList{LostText});
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), "user1");
    EXPECT_TRUE(Command(cmd::Connect).m_bEnabled);
    EXPECT_TRUE(Command(cmd::Disconnect).m_bEnabled);  // it stops the reconnecting
    EXPECT_EQ(TimerClients(), 1u);  // still there; its ticks do nothing
    Tick(120);
    EXPECT_EQ(m_Messages.size(), 1);

    // A period chosen meanwhile is kept for the next connection, and the
    // old client is replaced, not doubled.
    m_pDoc->SetUpdatePeriod(30);
    EXPECT_EQ(m_pGraph->GetGraph()->PointLabel(0), "780");  // points polled at 60 s
    Connect(m_Monitor.Host());
    ASSERT_EQ(TimerClients(), 1u);
    EXPECT_EQ(m_App.m_Timer.Clients()[0].m_Period, 30);
    EXPECT_EQ(m_pGraph->GetGraph()->PointLabel(0), "390");
    EXPECT_EQ(Rows(), 0);  // a new connection starts empty

    m_pDoc->SetUpdatePeriod(90);
    ASSERT_EQ(TimerClients(), 1u);
    EXPECT_EQ(m_App.m_Timer.Clients()[0].m_Period, 90);
}

// Sessions that lose their monitors together share one box, which names each
// server once; each goes on reconnecting, a server that is back leaves the
// box, the last one back closes it, and a later loss shows a box again.
TEST_F(SessionTest, SessionsLostTogetherShareOneBoxThatNamesEachServer) {
    FakeMonitor second;
    FakeMonitor third;
    CVGLDoc docB;
    CVGLDoc docC;
    Connect(m_Monitor.Host());
    ASSERT_TRUE(docB.ConnectTo(QString::fromStdString(second.Host())));
    ASSERT_TRUE(docC.ConnectTo(QString::fromStdString(third.Host())));
    ASSERT_TRUE(SettleSession(&docB) && SettleSession(&docC));
    const std::vector<CVGLDoc*> docs{m_pDoc.get(), &docB, &docC};
    auto allLost = [&docs] {
        return std::all_of(docs.begin(), docs.end(),
                           [](CVGLDoc* doc) { return doc->m_bDisconnected != 0; });
    };
    QString grown;
    QStringList shrunk;
    SetMessageBoxHook([&](const QString& text) {
        m_Messages << text;
        // The box is modal: the event loop runs while it is up, and the
        // other sessions' losses and reconnects arrive through it.
        if (m_Messages.size() != 1) return;
        EXPECT_TRUE(RunEventsUntil(allLost));
        grown = LostServersBox::Text();
        for (CVGLDoc* doc : {&docB, &docC, m_pDoc.get()}) {
            doc->RetryNow();
            EXPECT_TRUE(SettleSession(doc));
            shrunk << LostServersBox::Text();
        }
    });
    for (FakeMonitor* monitor : {&m_Monitor, &second, &third})
        monitor->QueueReply({FakeStep::Close()});
    Tick(60);
    EXPECT_EQ(m_Messages, QStringList{LostText});
    QStringList lines = grown.split('\n');
    ASSERT_EQ(lines.size(), 6) << grown.toStdString();
    EXPECT_EQ(lines.mid(0, 3), (LostText.split('\n') << ""));
    lines = lines.mid(3);
    lines.sort();
    QStringList hosts;
    for (FakeMonitor* monitor : {&m_Monitor, &second, &third})
        hosts << QString::fromStdString(monitor->Host());
    hosts.sort();
    EXPECT_EQ(lines, hosts);
    // B, then C came back; the box named those left, in the order they were lost.
    QStringList left = grown.split('\n').mid(3);
    QStringList expected;
    for (FakeMonitor* monitor : {&second, &third}) {
        left.removeOne(QString::fromStdString(monitor->Host()));
        expected << LostText + "\n\n" + left.join('\n');
    }
    EXPECT_EQ(shrunk, expected << "");
    for (CVGLDoc* doc : docs) EXPECT_EQ(doc->m_bDisconnected, 0);
    EXPECT_TRUE(LostServersBox::Text().isEmpty()) << "the box is closed";

    second.QueueReply({FakeStep::Close()});
    Tick(60);
    ASSERT_TRUE(RunEventsUntil([&docB] { return docB.m_bDisconnected != 0; }));
    EXPECT_EQ(m_Messages, (QStringList{LostText, LostText}));
}

TEST_F(SessionTest, DisconnectRemovesTheTimerClientAndKeepsTheRows) {
    m_Monitor.QueueBatch(Connection(1, "www", 1, 1));
    Connect(m_Monitor.Host());
    Route(cmd::Disconnect);
    EXPECT_EQ(TimerClients(), 0u);
    EXPECT_EQ(m_pDoc->m_bDisconnected, 1);
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(m_Monitor.WaitForDisconnects(1));

    Connect(m_Monitor.Host());
    EXPECT_EQ(TimerClients(), 1u);
    EXPECT_EQ(m_Monitor.ConnectionCount(), 2u);
    EXPECT_TRUE(m_Messages.isEmpty());
}

TEST_F(SessionTest, CommandsAreEnabledByTheConnectionState) {
    const int whileDisconnected[] = {cmd::Connect, cmd::CopyGraph, cmd::EditCopy, cmd::FilePrint,
                                     cmd::FilePrintSetup};
    auto expectState = [this, &whileDisconnected](bool connected) {
        for (int id : whileDisconnected) EXPECT_EQ(Command(id).m_bEnabled, !connected) << id;
        EXPECT_EQ(Command(cmd::Disconnect).m_bEnabled, connected);
        EXPECT_TRUE(Command(cmd::ShowActive).m_bEnabled);
        EXPECT_TRUE(Command(cmd::ShowFailed).m_bEnabled);
    };
    expectState(false);
    Connect(m_Monitor.Host());
    expectState(true);
    m_pDoc->OnDisconnect();
    expectState(false);
}

TEST_F(SessionTest, CancelAndEmptyOrUnknownNamesAskAgain) {
    m_Answers = {Cancel};
    m_pDoc->OnConnect();
    Settle();
    EXPECT_EQ(m_nDialogs, 1);
    EXPECT_TRUE(m_Messages.isEmpty());
    EXPECT_EQ(TimerClients(), 0u);
    EXPECT_EQ(m_pDoc->m_bDisconnected, 1);

    std::string nobody;
    {
        FakeMonitor gone;  // an address where nothing listens once it is gone
        nobody = gone.Host();
    }
    m_Answers = {"", nobody, Cancel};
    m_pDoc->OnConnect();
    Settle();
    EXPECT_EQ(m_nDialogs, 4);
    EXPECT_EQ(m_Messages, (QStringList{InvalidText, InvalidText}));
    EXPECT_EQ(TimerClients(), 0u);
    EXPECT_FALSE(m_pDoc->m_Table.IsConnected());

    m_Answers = {"", m_Monitor.Host()};
    m_pDoc->OnConnect();
    Settle();
    EXPECT_EQ(m_nDialogs, 6);
    EXPECT_EQ(m_Messages.size(), 3);
    EXPECT_TRUE(m_pDoc->m_Table.IsConnected());
}

TEST_F(SessionTest, ClosingAConnectedDocumentLeavesNoTimerClient) {
    Connect(m_Monitor.Host());
    m_pDoc.reset();
    EXPECT_EQ(TimerClients(), 0u);
    EXPECT_TRUE(m_Monitor.WaitForDisconnects(1));
}

TEST_F(SessionTest, ConnectToMakesOneAttemptWithoutTheDialog) {
    EXPECT_FALSE(m_pDoc->ConnectTo(""));
    EXPECT_TRUE(m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host())));
    Settle();
    EXPECT_EQ(m_nDialogs, 0);
    EXPECT_TRUE(m_Messages.isEmpty());
    EXPECT_EQ(m_Monitor.RequestCount(), 1u);
    EXPECT_EQ(TimerClients(), 1u);
}

TEST_F(SessionTest, ALostSessionReconnectsOnItsOwnAndContinuesWithItsGridAndGraph) {
    const QString host = QString::fromStdString(m_Monitor.Host());
    m_Monitor.QueueBatch(Connection(1, "www", 100, 23));
    Connect(m_Monitor.Host());
    m_Monitor.QueueBatch(Connection(1, "www", 200, 46));  // 123 more in the first period
    Tick(60);
    ASSERT_EQ(Rows(), 1);
    ASSERT_EQ(Newest("www(80)"), 123.0f);
    m_Monitor.CloseClient();
    Tick(60);
    EXPECT_EQ(m_Messages, QStringList{LostText});
    EXPECT_EQ(m_pDoc->GetTitle(), "Disconnected from " + host);
    EXPECT_EQ(m_pDoc->StatusText(), "Reconnecting to " + host + " in 5 s" + QChar(0x2026));

    m_pDoc->RetryNow();  // what the countdown does when it reaches 0
    Settle();
    EXPECT_EQ(m_pDoc->m_bDisconnected, 0);
    EXPECT_EQ(m_pDoc->GetTitle(), "Connected to Socks5 server -- " + host);
    EXPECT_EQ(m_Messages.size(), 1);
    EXPECT_EQ(Rows(), 1) << "the grid keeps the session's connections";
    GraphCtrl* graph = m_pGraph->GetGraph();
    bool kept = false;
    for (int point = 0; point < graph->PointCount(); ++point) kept |= graph->Value(1, point) == 123.0f;
    EXPECT_TRUE(kept) << "the graph keeps the points from before the loss";
    EXPECT_EQ(Newest("www(80)"), 0.0f);
}

TEST_F(SessionTest, FailedReconnectsAreQuietWaitLongerAndStopAtDisconnect) {
    auto monitor = std::make_unique<FakeMonitor>();
    const QString host = QString::fromStdString(monitor->Host());
    Connect(monitor->Host());
    m_pDoc->SetUpdatePeriod(15);
    monitor.reset();
    Tick(15);
    ASSERT_EQ(m_Messages, QStringList{LostText});
    for (int seconds : {10, 15, 15}) {
        m_pDoc->RetryNow();
        Settle();
        EXPECT_EQ(m_pDoc->StatusText(),
                  QStringLiteral("Reconnecting to %1 in %2 s").arg(host).arg(seconds) + QChar(0x2026));
    }
    EXPECT_EQ(m_Messages.size(), 1);
    EXPECT_EQ(m_nDialogs, 1) << "only the first Connect asked for a name";
    Route(cmd::Disconnect);
    EXPECT_FALSE(m_pDoc->IsReconnecting());
    m_pDoc->RetryNow();
    EXPECT_FALSE(m_pDoc->IsBusy());
    EXPECT_EQ(m_pDoc->StatusText(), "Disconnected");
}

// Without a window the document still saves what it keeps: the server and
// the described options; its live data never.
TEST(SessionFileTest, SavesTheSessionsSettingsAndOpensAnEmptyFileDisconnected) {
    TimerApp app;
    app.AddDocTemplate(std::make_unique<GWDocTemplate>(
        "\nVGL\nVGL\nVGL Files (*.vgl)\n.VGL\nVGL.Document\nVGL Document",
        [] { return new CVGLDoc; }));
    QTemporaryDir dir;
    const QString path = dir.filePath("night-shift.vgl");
    FakeMonitor monitor;
    auto* document = static_cast<CVGLDoc*>(app.OnFileNew());
    ASSERT_TRUE(document->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(document));
    ASSERT_TRUE(document->OnSaveDocument(path));
    // The title keeps the server and the state beside the file's name.
    const QString host = QString::fromStdString(monitor.Host());
    EXPECT_EQ(document->GetTitle(), "night-shift.vgl - Connected to Socks5 server -- " + host);
    document->OnDisconnect();
    EXPECT_EQ(document->GetTitle(), "night-shift.vgl - Disconnected from " + host);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.contains(("\"server\": \"" + monitor.Host() + "\"").c_str())) << text.data();
    EXPECT_FALSE(text.contains("user1"));

    const QString empty = dir.filePath("earlier.vgl");
    QFile(empty).open(QIODevice::WriteOnly);
    auto* opened = static_cast<CVGLDoc*>(app.OpenDocumentFile(empty));
    ASSERT_NE(opened, nullptr);
    EXPECT_NE(opened, document);
    EXPECT_EQ(opened->GetTitle(), "earlier.vgl");
    EXPECT_EQ(opened->m_bDisconnected, 1);
    EXPECT_FALSE(opened->m_Table.IsConnected());
}

}  // namespace
