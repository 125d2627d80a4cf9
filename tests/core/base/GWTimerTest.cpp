#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/base/GWTimer.h"
#include "core/base/Trace.h"

namespace {

// A system timer that only records what is asked of it; tests tick by hand.
struct FakeSystemTimer : SystemTimer {
    int32_t Create(uint32_t intervalMs) override {
        m_Intervals.push_back(intervalMs);
        if (m_bRefuse) return 0;
        m_Live.push_back(m_NextId);
        return m_NextId++;
    }
    void Kill(int32_t id) override {
        m_Killed.push_back(id);
        std::erase(m_Live, id);
    }
    int32_t m_NextId = 1;
    bool m_bRefuse = false;
    std::vector<uint32_t> m_Intervals;
    std::vector<int32_t> m_Live;
    std::vector<int32_t> m_Killed;
};

std::vector<uintptr_t> g_Fired;

int Record(uintptr_t value) {
    g_Fired.push_back(value);
    return 1;
}

int RecordToo(uintptr_t value) {
    g_Fired.push_back(value + 1000);
    return 1;
}

struct RecordingWindow : TimerWindow {
    void PostTimer(uintptr_t param) override { m_Posted.push_back(param); }
    std::vector<uintptr_t> m_Posted;
};

class GWTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_Fired.clear();
        GWTimer::UseSystemTimer(&m_System);
        SetTraceSink([this](const std::string& line) { m_Trace.push_back(line); });
    }
    void TearDown() override {
        m_Timer.reset();
        GWTimer::UseSystemTimer(nullptr);
        SetTraceSink(nullptr);
    }

    // Ticks the timer's current system timer n times; returns what fired.
    std::vector<uintptr_t> Tick(int n = 1) {
        g_Fired.clear();
        for (int i = 0; i < n; ++i) GWTimer::TimerProc(m_Timer->TimerId());
        return g_Fired;
    }

    bool Traced(const std::string& message) const {
        const std::string prefix = message + " in GWTimer.cpp at line ";
        for (const auto& line : m_Trace)
            if (line.rfind(prefix, 0) == 0 && line.back() == '\n') return true;
        return false;
    }

    FakeSystemTimer m_System;
    std::unique_ptr<GWTimer> m_Timer = std::make_unique<GWTimer>();
    std::vector<std::string> m_Trace;
};

using Fired = std::vector<uintptr_t>;

TEST_F(GWTimerTest, ClientsFireOnEveryPeriodthTickOfAFreshTimer) {
    EXPECT_EQ(m_Timer->TimerId(), -1);
    m_Timer->Set(3, Record, 3, 1);
    m_Timer->Set(1, Record, 1, 1);
    m_Timer->Set(0, Record, 0, 1);
    m_Timer->Set(-2, Record, 2, 1);
    ASSERT_EQ(m_System.m_Intervals, std::vector<uint32_t>{1000});  // one timer, created once
    EXPECT_EQ(m_Timer->TimerId(), 1);

    std::vector<Fired> ticks;
    for (int i = 1; i <= 9; ++i) ticks.push_back(Tick());
    for (int i = 1; i <= 9; ++i) {
        Fired expected = i % 3 == 0 ? Fired{3, 1} : Fired{1};
        EXPECT_EQ(ticks[i - 1], expected) << "tick " << i;
    }
}

TEST_F(GWTimerTest, DuplicatesBothFireAndResetRemovesTheFirstExactMatchOnly) {
    m_Timer->Set(2, Record, 7, 1);
    m_Timer->Set(2, Record, 7, 1);
    m_Timer->Set(2, RecordToo, 7, 1);
    EXPECT_EQ(Tick(2), (Fired{7, 7, 1007}));

    Tick();                        // every count is now 1
    m_Timer->Reset(3, Record, 7);  // misses on the period, the function or the value
    m_Timer->Reset(2, RecordToo, 8);
    m_Timer->Reset(2, static_cast<TimerCallback>(nullptr), 7);
    EXPECT_EQ(m_Trace.size(), 3u);
    EXPECT_TRUE(Traced("Didn't find the specified timer client to reset"));
    m_Timer->Reset(2, Record, 7);
    ASSERT_EQ(m_Timer->Clients().size(), 2u);
    EXPECT_EQ(m_Timer->Clients()[0].m_Count, 1);  // the one that moved up keeps its count
    EXPECT_EQ(Tick(), (Fired{7, 1007}));
    EXPECT_EQ(m_Trace.size(), 3u);
}

TEST_F(GWTimerTest, RemovingTheLastClientKillsTheTimerAndTheNextSetMakesANewOne) {
    m_Timer->Set(1, Record, 1, 1);
    m_Timer->Set(1, Record, 2, 1);
    m_Timer->Reset(1, Record, 1);
    EXPECT_TRUE(m_System.m_Killed.empty());  // one client left: still running
    EXPECT_EQ(m_Timer->TimerId(), 1);
    m_Timer->Reset(1, Record, 2);
    EXPECT_EQ(m_System.m_Killed, std::vector<int32_t>{1});
    EXPECT_EQ(m_Timer->TimerId(), -1);

    m_Timer->Set(1, Record, 3, 1);
    EXPECT_EQ(m_Timer->TimerId(), 2);
    EXPECT_EQ(Tick(), Fired{3});  // the new id reaches this object
}

TEST_F(GWTimerTest, ClientsSetOffNeverStartATimerNorFire) {
    m_Timer->Set(1, Record, 1, 0);
    EXPECT_EQ(m_Timer->TimerId(), -1);
    EXPECT_TRUE(m_System.m_Intervals.empty());
    m_Timer->Set(1, Record, 2, 5);  // an invalid state is traced and kept off
    EXPECT_TRUE(Traced("a_OnOff in Set(..) invalid"));
    EXPECT_EQ(m_Timer->TimerId(), -1);
    m_Timer->Set(1, Record, 3, 1);
    EXPECT_EQ(Tick(3), (Fired{3, 3, 3}));
    EXPECT_EQ(m_Timer->Clients().size(), 3u);
}

TEST_F(GWTimerTest, InvalidClientIsRemovedAndTheNextStillFiresInTheSameTick) {
    RecordingWindow window;
    m_Timer->Set(1, static_cast<TimerWindow*>(nullptr), 1, 1);
    m_Timer->Set(1, static_cast<TimerCallback>(nullptr), 2, 1);
    m_Timer->Set(1, Record, 3, 1);
    m_Timer->Set(2, &window, 4, 1);
    m_Timer->Reset(2, static_cast<TimerCallback>(nullptr), 4);  // a window is no function
    m_Trace.clear();
    EXPECT_EQ(Tick(), Fired{3});
    EXPECT_TRUE(Traced("TimerClient m_pClient invalid"));
    EXPECT_EQ(m_Trace.size(), 2u);
    ASSERT_EQ(m_Timer->Clients().size(), 2u);
    EXPECT_EQ(m_Timer->Clients()[1].m_Count, 1);
    EXPECT_EQ(Tick(), Fired{3});
    EXPECT_EQ(window.m_Posted, std::vector<uintptr_t>{4});
}

TEST_F(GWTimerTest, RefusedSystemTimerIsNotRetriedUntilTheListEmpties) {
    m_System.m_bRefuse = true;
    m_Timer->Set(1, Record, 1, 1);
    m_Timer->Set(1, Record, 2, 1);
    EXPECT_EQ(m_System.m_Intervals.size(), 1u);
    m_Timer->Reset(1, Record, 1);
    m_Timer->Reset(1, Record, 2);
    EXPECT_TRUE(m_System.m_Killed.empty());  // nothing was created, nothing to kill
    m_System.m_bRefuse = false;
    m_Timer->Set(1, Record, 3, 1);
    EXPECT_EQ(m_System.m_Intervals.size(), 2u);
    EXPECT_EQ(Tick(), Fired{3});
}

// A client that runs a modal loop, once, while the timer goes on ticking.
int g_NestedTicks = 0;
int32_t g_NestedTimerId = 0;
int TickTenTimesInside(uintptr_t value) {
    g_Fired.push_back(value);
    const int ticks = std::exchange(g_NestedTicks, 0);
    for (int i = 0; i < ticks; ++i) GWTimer::TimerProc(g_NestedTimerId);
    return 1;
}

TEST_F(GWTimerTest, TicksWhileATargetRunsNeverCallItAgainFromInside) {
    m_Timer->Set(3, TickTenTimesInside, 1, 1);
    m_Timer->Set(1, Record, 2, 1);
    g_NestedTimerId = m_Timer->TimerId();
    g_NestedTicks = 10;
    const Fired fired = Tick(3);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 1u), 1);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 2u), 13);  // others go on firing
    EXPECT_EQ(m_Timer->Clients()[0].m_Count, 0);                // counting again once it returned
    EXPECT_EQ(Tick(3), (Fired{2, 2, 1, 2}));
}

TEST_F(GWTimerTest, DestroyedTimerLeavesNoTimerMapEntry) {
    // Ids 1 (killed by Reset, its entry left behind) and 2 (still running).
    m_Timer->Set(1, Record, 1, 1);
    m_Timer->Reset(1, Record, 1);
    m_Timer->Set(1, Record, 2, 1);
    ASSERT_EQ(m_Timer->TimerId(), 2);
    m_Timer.reset();
    EXPECT_EQ(m_System.m_Killed, (std::vector<int32_t>{1, 2}));
    EXPECT_TRUE(m_System.m_Live.empty());

    g_Fired.clear();
    GWTimer::TimerProc(1);
    GWTimer::TimerProc(2);
    GWTimer::TimerProc(99);
    EXPECT_TRUE(g_Fired.empty());

    // Without a system timer installed the destructor kills nothing.
    auto other = std::make_unique<GWTimer>();
    other->Set(1, Record, 3, 1);
    GWTimer::UseSystemTimer(nullptr);
    other.reset();
    EXPECT_EQ(m_System.m_Live, std::vector<int32_t>{3});
    GWTimer::TimerProc(3);
    EXPECT_TRUE(g_Fired.empty());
}

}  // namespace
