// Sessions whose connect or poll is in flight on their worker: other
// sessions and the event loop go on, no second poll starts, and Disconnect
// and closing give the work up at once.

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <iostream>

#include "SessionFixture.h"
#include "gui/framework/CommandIds.h"
#include "support/HangingListener.h"

namespace {

int32_t OpenCount() {
    return std::atomic_ref<int32_t>(Mon_TcpOpenCount).load();
}

TEST_F(SessionTest, AStalledMonitorHoldsUpNoOtherSessionAndEndsDisconnectedOnce) {
    FakeMonitor healthy;
    CVGLDoc other;
    Connect(m_Monitor.Host());
    ASSERT_TRUE(other.ConnectTo(QString::fromStdString(healthy.Host())));
    ASSERT_TRUE(SettleSession(&other));
    m_Monitor.QueueReply(
        {FakeStep::Send(FrameMessage(Connection(1, "www", 1, 1)[0])), FakeStep::Stall()});
    healthy.QueueBatch(Connection(2, "ftp", 5, 5));
    auto tickPeriod = [this] {
        for (int i = 0; i < 60; ++i) GWTimer::TimerProc(m_App.m_Timer.TimerId());
    };

    tickPeriod();
    ASSERT_TRUE(SettleSession(&other));
    EXPECT_EQ(other.m_Table.ActiveCount(), 1u) << "applied through the running event loop";
    EXPECT_TRUE(m_pDoc->IsBusy());
    EXPECT_EQ(m_pDoc->StatusText(),
              "Polling " + QString::fromStdString(m_Monitor.Host()) + QChar(0x2026));

    tickPeriod();  // a tick and a refresh while the poll is in flight start nothing
    m_pDoc->Refresh();
    ASSERT_TRUE(SettleSession(&other));
    EXPECT_EQ(healthy.RequestCount(), 3u);
    ASSERT_TRUE(m_Monitor.WaitForRequests(2));
    EXPECT_EQ(m_Monitor.RequestCount(), 2u);

    m_Monitor.CloseClient();
    Settle();
    EXPECT_EQ(m_Messages, QStringList{LostText});
    EXPECT_EQ(m_pDoc->m_Table.ActiveCount(), 1u) << "what arrived before the loss is applied";
    EXPECT_EQ(m_pDoc->m_Table.LastErrorText(), "WSAECONNRESET - recv() failed message length=0");
    EXPECT_EQ(m_pDoc->StatusText(), "Reconnecting to " + QString::fromStdString(m_Monitor.Host()) +
                                        " in 5 s" + QChar(0x2026));
    EXPECT_TRUE(Traced("Connection lost: WSAECONNRESET - recv() failed message length=0"));
    EXPECT_EQ(other.m_bDisconnected, 0);
}

TEST_F(SessionTest, ShowFailedAndShowActiveSwitchAtOnceWhileAPollIsInFlight) {
    m_Monitor.QueueBatch(Join({Connection(1, "www", 1, 1),
                               Connection(2, "ftp", 1, 1),
                               {EncodeResult(7, 2, 5, "refused"), EncodeClose(7, 2)}}));
    Connect(m_Monitor.Host());
    m_Monitor.QueueReply({FakeStep::Stall()});
    for (int i = 0; i < 60; ++i) GWTimer::TimerProc(m_App.m_Timer.TimerId());
    ASSERT_TRUE(m_Monitor.WaitForRequests(2));
    ASSERT_TRUE(m_pDoc->IsBusy());

    // Routed without waiting for the session, which stays busy.
    GWRouteCommand({m_pGrid, m_pDoc.get()}, cmd::ShowFailed);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), "user2");
    GWRouteCommand({m_pGrid, m_pDoc.get()}, cmd::ShowActive);
    EXPECT_EQ(Cell(0, 2), "user1");
    EXPECT_EQ(m_Monitor.RequestCount(), 2u) << "no second poll on the connection";
    Route(cmd::Disconnect);
    m_Monitor.Resume();
}

TEST_F(SessionTest, TheWholePollHasADeadline) {
    SessionLimits limits;
    limits.m_PollMs = 200;
    Connect(m_Monitor.Host());
    m_Monitor.QueueReply({FakeStep::Send({0x00}), FakeStep::Stall()});
    SetSessionLimits(limits);
    Tick(60);
    SetSessionLimits(SessionLimits{});
    EXPECT_EQ(m_Messages, QStringList{LostText});
    EXPECT_EQ(m_pDoc->m_Table.LastErrorText(),
              "WinSock error=10060 WSAETIMEDOUT - operation timed out");
    EXPECT_TRUE(m_pDoc->IsReconnecting());
}

TEST_F(SessionTest, DisconnectAndClosingGiveUpInFlightWorkAtOnce) {
    const int32_t openBefore = OpenCount();
    m_Monitor.QueueReply({FakeStep::Stall()});
    m_Answers.push_back(m_Monitor.Host());
    m_pDoc->OnConnect();
    ASSERT_TRUE(RunEventsUntil([this] { return m_pDoc->m_bDisconnected == 0; }));
    ASSERT_TRUE(m_Monitor.WaitForRequests(1));
    EXPECT_TRUE(m_pDoc->IsBusy());
    Route(cmd::Disconnect);
    EXPECT_FALSE(m_pDoc->IsBusy());
    EXPECT_EQ(m_pDoc->m_bDisconnected, 1);
    EXPECT_EQ(TimerClients(), 0u);
    EXPECT_TRUE(Traced("Connection Closed."));
    EXPECT_TRUE(RunEventsUntil([&] { return OpenCount() == openBefore; }));
    m_Monitor.Resume();  // the monitor goes on to its next client

    {
        HangingListener unreachable;
        Mon_TcpSetTimeouts(1000, 30000);  // the given-up connect ends soon after
        ASSERT_TRUE(m_pDoc->ConnectTo(QString::fromStdString(unreachable.Host())));
        EXPECT_TRUE(m_pDoc->IsConnecting());
        EXPECT_TRUE(Command(cmd::Disconnect).m_bEnabled);
        Route(cmd::Disconnect);
        EXPECT_FALSE(m_pDoc->IsBusy());
        Mon_TcpSetTimeouts(15000, 30000);
    }

    m_Monitor.QueueReply({FakeStep::Stall()});
    m_Answers.push_back(m_Monitor.Host());
    m_pDoc->OnConnect();
    ASSERT_TRUE(RunEventsUntil([this] { return m_Monitor.RequestCount() == 2; }));
    m_pDoc.reset();
    EXPECT_EQ(TimerClients(), 0u);
    EXPECT_TRUE(RunEventsUntil([&] { return OpenCount() == openBefore; }));
    EXPECT_TRUE(m_Messages.isEmpty());
    EXPECT_EQ(m_nDialogs, 2);
}

// A huge batch is applied a slice per turn of the event loop: a timer of the
// same thread keeps firing while it is applied, and the views are told once,
// when it is done.
TEST_F(SessionTest, AMillionRecordBatchLetsTheEventLoopTurnWhileItIsApplied) {
    constexpr uint32_t Kept = 1000;
    constexpr uint32_t Refused = 1000000;
    m_pDoc->m_Table.SetConnectionLimit(Kept);
    Connect(m_Monitor.Host());
    MonBytes batch;
    for (uint32_t id = 1; id <= Kept; ++id) {
        for (const MonBytes& record : Connection(id, "www", id, id)) {
            const MonBytes framed = FrameMessage(record);
            batch.insert(batch.end(), framed.begin(), framed.end());
        }
    }
    for (uint32_t id = 1; id <= Refused; ++id) {  // new connections, and no room for them
        const MonBytes framed =
            FrameMessage(EncodeOpen(8, id, 0x02, 1700000000, "u", EncodeSockAddr("10.1.0.1"), "h"));
        batch.insert(batch.end(), framed.begin(), framed.end());
    }
    batch.insert(batch.end(), {0, 0});
    m_Monitor.QueueRaw(std::move(batch));

    int turns = 0;
    qint64 longestGap = 0;
    QElapsedTimer gap;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (m_pDoc->m_Table.IsApplying()) {
            ++turns;
            longestGap = std::max(longestGap, gap.elapsed());
            EXPECT_EQ(Rows(), 0) << "the views wait for the batch's end";
        }
        gap.restart();
    });
    gap.start();
    probe.start();
    Tick(60);
    probe.stop();
    std::cout << "turns while applying: " << turns << ", longest gap: " << longestGap << " ms\n";
    EXPECT_GE(turns, 1);
    EXPECT_EQ(Rows(), static_cast<int>(Kept) + 1);  // one over the limit is let in
    EXPECT_TRUE(Traced("Buffer full (999999 records)"));
    EXPECT_EQ(m_pDoc->StatusText(), "Buffer full: 999999 connections not shown");
}

}  // namespace
