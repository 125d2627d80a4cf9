// A session's network steps off the caller's thread: the read-ahead buffer,
// a whole batch within its deadline and its size bound, and the worker that
// runs connects and polls, hands results over and gives them up at once.
// These run under ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/monitor/MonBatch.h"
#include "core/monitor/SessionWorker.h"
#include "core/monitor/WorkerPool.h"
#include "core/table/PMCTable.h"
#include "core/table/TrafficPoint.h"
#include "support/FakeMonitor.h"
#include "support/HangingListener.h"

namespace {

const std::string TimedOutText = "WinSock error=10060 WSAETIMEDOUT - operation timed out";

int32_t OpenCount() {
    return std::atomic_ref<int32_t>(Mon_TcpOpenCount).load();
}

// Sockets are closed by the worker's threads once they let go; waits for that.
bool OpenCountReturnsTo(int32_t count) {
    for (int i = 0; i < 2000 && OpenCount() != count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return OpenCount() == count;
}

// Threads and sockets come and go on the worker's threads: waits, polling,
// until the condition holds or the cap has passed.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::seconds cap = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + cap;
    while (!condition() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

size_t EntriesOf(const char* folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

size_t ThreadCount() {
    return EntriesOf("/proc/self/task");
}

size_t FdCount() {
    return EntriesOf("/proc/self/fd");
}

// A host lookup that hangs until the test lets it go, as a resolver that
// never answers does, and counts the lookups that began.
class HangingLookup {
public:
    HangingLookup() {
        s_Entered = 0;
        s_bReleased = false;
        Mon_TcpSetAddressLookup(Lookup);
    }
    ~HangingLookup() {
        Release();
        Mon_TcpSetAddressLookup(nullptr);
    }
    static void Release() {
        std::lock_guard lock(s_Mutex);
        s_bReleased = true;
        s_Changed.notify_all();
    }
    static int Entered() {
        std::lock_guard lock(s_Mutex);
        return s_Entered;
    }
    static bool WaitForEntered(int count) {
        std::unique_lock lock(s_Mutex);
        return s_Changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return s_Entered >= count; });
    }

private:
    static int Lookup(const char*, uint16_t, std::vector<MonAddress>*) {
        std::unique_lock lock(s_Mutex);
        ++s_Entered;
        s_Changed.notify_all();
        s_Changed.wait(lock, [] { return s_bReleased; });
        return EAI_NONAME;
    }
    static inline std::mutex s_Mutex;
    static inline std::condition_variable s_Changed;
    static inline int s_Entered = 0;
    static inline bool s_bReleased = false;
};

std::vector<MonBytes> Records(int count) {
    std::vector<MonBytes> records;
    for (int id = 1; id <= count; ++id) {
        records.push_back(EncodeOpen(1, static_cast<uint32_t>(id), 0, 1000, "user", {}, "host"));
    }
    return records;
}

// A worker whose notices are counted and can be waited for.
class CountedWorker {
public:
    CountedWorker() : m_Worker([this] { Notice(); }) {}
    bool WaitForNotices(int count) {
        std::unique_lock lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return m_nNotices >= count; });
    }
    int Notices() {
        std::lock_guard lock(m_Mutex);
        return m_nNotices;
    }
    SessionWorker m_Worker;

private:
    void Notice() {
        std::lock_guard lock(m_Mutex);
        ++m_nNotices;
        m_Changed.notify_all();
    }
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    int m_nNotices = 0;
};

class SessionWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { m_OpenBefore = OpenCount(); }
    void TearDown() override {
        SetSessionLimits(SessionLimits{});
        Mon_TcpSetTimeouts(15000, 30000);
        EXPECT_TRUE(OpenCountReturnsTo(m_OpenBefore));
    }
    MonitorConnection* Open(const FakeMonitor& monitor) {
        MonitorConnection* connection = nullptr;
        EXPECT_EQ(Mon_Open(monitor.Host().c_str(), &connection), 0);
        return connection;
    }
    int32_t m_OpenBefore = 0;
};

TEST_F(SessionWorkerTest, ReadAheadGoesWithItsSocket) {
    FakeMonitor monitor;
    monitor.QueueBatch(Records(3));  // one write: the buffer holds the rest
    monitor.QueueBatch(Records(1));
    MonitorConnection* first = Open(monitor);
    MonitorRecord record{};
    ASSERT_EQ(Mon_Read(first, &record), 1);
    const MonSocket number = first->m_Socket;
    Mon_Close(first);  // two records and the end left unread in the buffer

    MonitorConnection* second = Open(monitor);
    EXPECT_EQ(second->m_Socket, number) << "the same socket number, a new socket";
    MonBatch batch;
    EXPECT_EQ(Mon_ReadBatch(second, batch, SessionLimits{}), 0);
    const uint8_t* body = nullptr;
    uint16_t length = 0;
    int count = 0;
    while (batch.Next(body, length)) ++count;
    EXPECT_EQ(count, 1) << "nothing of the closed socket's batch";
    Mon_Close(second);
}

// The receive time-out applies to each wait; the poll limit to the whole batch.
TEST_F(SessionWorkerTest, AMonitorThatTricklesWithoutEndingItsBatchEndsAtTheDeadline) {
    FakeMonitor monitor;
    std::vector<MonBytes> framed;
    for (const MonBytes& record : Records(200)) framed.push_back(FrameMessage(record));
    monitor.QueueReply({FakeStep::SendBytewise(Concat(framed)), FakeStep::Stall()});
    MonitorConnection* connection = Open(monitor);
    SessionLimits limits;
    limits.m_PollMs = 300;
    MonBatch batch;
    EXPECT_EQ(Mon_ReadBatch(connection, batch, limits), -1);
    EXPECT_EQ(batch.m_ErrorCode, 10060);
    EXPECT_EQ(std::string(batch.m_ErrorText), TimedOutText);
    EXPECT_GT(batch.Bytes(), 0u) << "what came before the deadline is kept";
    Mon_Close(connection);
}

TEST_F(SessionWorkerTest, ABatchPastItsBoundIsIllegalAndHoldsNoMoreThanTheBound) {
    FakeMonitor monitor;
    monitor.QueueBatch(Records(2000));
    MonitorConnection* connection = Open(monitor);
    SessionLimits limits;
    limits.m_BatchBytes = 4096;
    MonBatch batch;
    EXPECT_EQ(Mon_ReadBatch(connection, batch, limits), -1);
    EXPECT_EQ(std::string(batch.m_ErrorText), "illegal message from monitor");
    EXPECT_LE(batch.Bytes(), 4096u);
    EXPECT_LE(batch.Capacity(), 4096u);
    Mon_Close(connection);
}

TEST_F(SessionWorkerTest, AStalledPollHoldsUpNoOtherAndIsGivenUpAtOnce) {
    FakeMonitor stalled;
    FakeMonitor healthy;
    stalled.QueueReply({FakeStep::Send(FrameMessage(Records(1)[0])), FakeStep::Stall()});
    healthy.QueueBatch(Records(5));
    CountedWorker a;
    CountedWorker b;
    MonBatch batchA;
    MonBatch batchB;
    ASSERT_TRUE(a.m_Worker.StartPoll(Open(stalled), batchA, SessionLimits{}));
    ASSERT_TRUE(b.m_Worker.StartPoll(Open(healthy), batchB, SessionLimits{}));
    MonitorConnection* another = Open(healthy);
    EXPECT_FALSE(a.m_Worker.StartPoll(another, batchA, SessionLimits{})) << "one job at a time";
    Mon_Close(another);

    ASSERT_TRUE(b.WaitForNotices(1));
    SessionWorker::Result result;
    ASSERT_TRUE(b.m_Worker.TakeResult(result));
    EXPECT_EQ(result.m_Status, 0);
    EXPECT_FALSE(b.m_Worker.IsBusy());
    Mon_Close(result.m_pConnection);

    ASSERT_TRUE(stalled.WaitForRequests(1));
    EXPECT_FALSE(a.m_Worker.TakeResult(result));
    EXPECT_TRUE(a.m_Worker.IsBusy());
    a.m_Worker.Cancel();
    EXPECT_FALSE(a.m_Worker.IsBusy());
    EXPECT_TRUE(OpenCountReturnsTo(m_OpenBefore)) << "the worker closed its socket";
    EXPECT_EQ(a.Notices(), 0) << "nothing reported after Cancel";
    EXPECT_EQ(healthy.RequestCount(), 1u);
}

TEST_F(SessionWorkerTest, AConnectThatHangsEndsAtTheConnectLimitOrWhenGivenUp) {
    HangingListener unreachable;
    Mon_TcpSetTimeouts(1000, 30000);  // the abandoned connects end soon after
    SessionLimits limits;
    limits.m_ConnectMs = 200;
    CountedWorker timed;
    ASSERT_TRUE(timed.m_Worker.StartConnect(unreachable.Host(), limits));
    ASSERT_TRUE(timed.WaitForNotices(1));
    SessionWorker::Result result;
    ASSERT_TRUE(timed.m_Worker.TakeResult(result));
    EXPECT_TRUE(result.m_bConnect);
    EXPECT_EQ(result.m_Status, -1);
    EXPECT_EQ(result.m_pConnection, nullptr);
    EXPECT_EQ(result.m_ErrorText, TimedOutText);

    CountedWorker cancelled;
    ASSERT_TRUE(cancelled.m_Worker.StartConnect(unreachable.Host(), SessionLimits{}));
    cancelled.m_Worker.Cancel();
    EXPECT_FALSE(cancelled.m_Worker.IsBusy());
    EXPECT_FALSE(cancelled.m_Worker.TakeResult(result));
}

// Hand-overs to a host whose lookup hangs: each connect is given up while
// its lookup may never return. Only as many lookups as the pool's bound
// ever hold a thread, the connects queued behind them never begin, the
// connect limit still ends a connect that cannot get past its lookup, and
// once the lookups return every thread goes.
TEST_F(SessionWorkerTest, AbandonedConnectsHoldNoMoreThreadsThanTheBoundAndLeaveNone) {
    FakeMonitor monitor;
    MonitorConnection* connection = nullptr;
    ASSERT_EQ(Mon_Open(monitor.Host().c_str(), &connection), 0);
    const size_t baseline = ThreadCount();
    HangingLookup lookup;
    CountedWorker healthy;
    CountedWorker abandoned;
    WorkerPool& connects = WorkerPool::ForConnects();
    const int bound = static_cast<int>(connects.Bound());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(abandoned.m_Worker.StartConnect("monitor.invalid", SessionLimits{}));
        ASSERT_TRUE(HangingLookup::WaitForEntered(std::min(i + 1, bound)));
        abandoned.m_Worker.Cancel();
    }
    EXPECT_EQ(HangingLookup::Entered(), bound);
    EXPECT_LE(connects.Threads(), static_cast<size_t>(bound));
    EXPECT_LE(ThreadCount(), baseline + bound + 1) << "the pool and the deadline watcher";

    // A healthy session's poll does not wait behind the hung lookups.
    monitor.QueueBatch(Records(2));
    MonBatch batch;
    ASSERT_TRUE(healthy.m_Worker.StartPoll(connection, batch, SessionLimits{}));
    ASSERT_TRUE(healthy.WaitForNotices(1));
    SessionWorker::Result polled;
    ASSERT_TRUE(healthy.m_Worker.TakeResult(polled));
    EXPECT_EQ(polled.m_Status, 0);
    Mon_Close(polled.m_pConnection);

    CountedWorker timed;  // its connect hangs in the lookup or waits for a thread
    SessionLimits limits;
    limits.m_ConnectMs = 200;
    ASSERT_TRUE(timed.m_Worker.StartConnect("monitor.invalid", limits));
    ASSERT_TRUE(timed.WaitForNotices(1));
    SessionWorker::Result result;
    ASSERT_TRUE(timed.m_Worker.TakeResult(result));
    EXPECT_EQ(result.m_ErrorText, TimedOutText);

    HangingLookup::Release();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baseline; }))
        << ThreadCount() << " threads, " << baseline << " before";
    EXPECT_LE(HangingLookup::Entered(), bound + 1);
    EXPECT_EQ(abandoned.Notices(), 0);
}

// A monitor host that never answers the connect's SYN: whether the connect
// is cancelled or reaches its limit, its socket is closed then and there,
// not when the transport's own connect time-out would end the wait.
TEST_F(SessionWorkerTest, AConnectGivenUpWhileItsPeerIsSilentClosesItsSocketAtOnce) {
    HangingListener silent;
    Mon_TcpSetTimeouts(60000, 30000);
    const size_t baseline = FdCount();
    CountedWorker cancelled;
    SessionLimits limits;
    limits.m_ConnectMs = 60000;
    ASSERT_TRUE(cancelled.m_Worker.StartConnect(silent.Host(), limits));
    ASSERT_TRUE(WaitUntil([&] { return FdCount() > baseline; })) << "connecting";
    cancelled.m_Worker.Cancel();
    EXPECT_TRUE(WaitUntil([&] { return FdCount() == baseline; }, std::chrono::seconds(10)));
    EXPECT_EQ(cancelled.Notices(), 0);

    CountedWorker timed;
    limits.m_ConnectMs = 300;
    ASSERT_TRUE(timed.m_Worker.StartConnect(silent.Host(), limits));
    ASSERT_TRUE(timed.WaitForNotices(1));
    EXPECT_TRUE(WaitUntil([&] { return FdCount() == baseline; }, std::chrono::seconds(10)));
    SessionWorker::Result result;
    ASSERT_TRUE(timed.m_Worker.TakeResult(result));
    EXPECT_EQ(result.m_ErrorText, TimedOutText);
}

// The table's half of polls that the worker read: the limit it was given,
// the connections it had no room for, and their traffic kept out of the
// point that adds up the polls.
TEST_F(SessionWorkerTest, ATableAppliesWhatTheWorkerReadUpToItsLimit) {
    FakeMonitor monitor;
    monitor.QueueBatch(Records(1002));
    monitor.QueueBatch({EncodeUpdate(1, 1, "", {}, "", {}, "", 10, 0),
                        EncodeUpdate(1, 2, "", {}, "", {}, "", 0, 20),
                        EncodeUpdate(1, 1002, "", {}, "", {}, "", 5, 0)});
    PMCTable table;
    table.SetServices({"Others"});
    table.SetConnectionLimit(1000);
    table.AdoptConnection(monitor.Host(), Open(monitor), 0);
    TrafficPoint point;
    for (int poll = 0; poll < 2; ++poll) {
        CountedWorker worker;
        MonBatch batch;
        MonitorConnection* lent = table.LendConnection(batch);
        ASSERT_TRUE(worker.m_Worker.StartPoll(lent, batch, SessionLimits{}));
        ASSERT_TRUE(worker.WaitForNotices(1));
        SessionWorker::Result result;
        ASSERT_TRUE(worker.m_Worker.TakeResult(result));
        EXPECT_EQ(table.ApplyBatch(result.m_pConnection, result.m_Batch), 0);
        table.FeedGraph(point);
        EXPECT_EQ(table.ActiveCount(), 1001u) << poll;  // more than 1,000 refuses
        EXPECT_EQ(table.DroppedCount(), 1u) << poll;
    }
    EXPECT_EQ(point.Values(), (std::map<std::string, uint64_t>{{"Others", 30}}));
    table.CloseConnection();
}

}  // namespace
