// The alerts' rules over what sessions report: each kind fires once when
// its threshold is passed, and not again within the quiet interval.
#include <gtest/gtest.h>

#include "core/alert/AlertEngine.h"
#include "core/history/HistoryRecorder.h"
#include "core/table/PMCTable.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"

namespace {

constexpr int64_t T0 = 1765000000;  // a Saturday, 05:46:40 UTC

AlertRule Rule(AlertKind kind, double threshold, int minutes = 1) {
    AlertRule rule;
    rule.m_Kind = kind;
    rule.m_Name = AlertRule::KindName(kind);
    rule.m_Threshold = threshold;
    rule.m_Minutes = minutes;
    return rule;
}

PollActivity Poll(int64_t time, int64_t seconds = 10) {
    PollActivity poll;
    poll.m_Time = time;
    poll.m_Seconds = seconds;
    return poll;
}

class AlertEngineTest : public testing::Test {
protected:
    void Use(AlertRule rule) {
        m_Engine.SetRules({std::move(rule)});
        m_Engine.SetQuietSeconds(600);
    }
    size_t Fired(const PollActivity& poll, const std::string& server = "gate") {
        m_Last = m_Engine.Polled(server, poll);
        return m_Last.size();
    }
    AlertEngine m_Engine;
    std::vector<AlertFiring> m_Last;
};

TEST_F(AlertEngineTest, ServerLostOncePerQuietIntervalAndBackOnlyAfterATold) {
    Use(Rule(AlertKind::ServerLost, 0));
    const auto lost = m_Engine.ServerLost("gate", "Connection reset", T0);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].m_Server, "gate");
    EXPECT_EQ(lost[0].m_What, "Lost: Connection reset");
    EXPECT_EQ(m_Engine.ServerBack("gate", T0 + 5).size(), 1u);
    // Flapping within the quiet interval: neither the loss nor its end again.
    EXPECT_TRUE(m_Engine.ServerLost("gate", "", T0 + 10).empty());
    EXPECT_TRUE(m_Engine.ServerBack("gate", T0 + 15).empty());
    // Another server has its own interval; and after the interval, again.
    EXPECT_EQ(m_Engine.ServerLost("relay", "", T0 + 20).size(), 1u);
    EXPECT_EQ(m_Engine.ServerLost("gate", "", T0 + 700).size(), 1u);
}

TEST_F(AlertEngineTest, FailedLoginsCountTheLastMinutePerClientWhenAsked) {
    AlertRule rule = Rule(AlertKind::FailedLogins, 3);
    rule.m_bPerClient = true;
    Use(rule);
    PollActivity poll = Poll(T0);
    poll.m_FailedLogins = {"10.0.0.7", "10.0.0.7", "10.0.0.8", "10.0.0.8"};
    EXPECT_EQ(Fired(poll), 0u);  // two each: under the threshold
    poll = Poll(T0 + 30);
    poll.m_FailedLogins = {"10.0.0.7", "10.0.0.7"};
    ASSERT_EQ(Fired(poll), 1u);
    EXPECT_EQ(m_Last[0].m_What, "4 failed logins in a minute from 10.0.0.7");
    EXPECT_EQ(m_Last[0].m_Filter, R"(result:257 src:="10.0.0.7")");
    poll = Poll(T0 + 40);
    poll.m_FailedLogins = {"10.0.0.7"};
    EXPECT_EQ(Fired(poll), 0u);  // within the quiet interval
    // The first minute's logins have left the window: 10.0.0.8 stays at 2.
    poll = Poll(T0 + 70);
    poll.m_FailedLogins = {"10.0.0.8", "10.0.0.8"};
    EXPECT_EQ(Fired(poll), 0u);
}

TEST_F(AlertEngineTest, UserRateMustLastTheWholePeriod) {
    Use(Rule(AlertKind::UserRate, 1000, 2));
    PollActivity poll;
    for (int64_t t = 60; t < 120; t += 60) {
        poll = Poll(T0 + t, 60);
        poll.m_UserBytes["alice"] = 120000;  // 2000 B/s
        EXPECT_EQ(Fired(poll), 0u);
    }
    poll = Poll(T0 + 120, 60);
    poll.m_UserBytes["bob"] = 10;  // alice moved nothing: below
    EXPECT_EQ(Fired(poll), 0u);
    for (int64_t t = 180; t <= 300; t += 60) {
        poll = Poll(T0 + t, 60);
        poll.m_UserBytes["alice"] = 120000;
        EXPECT_EQ(Fired(poll), t == 240 ? 1u : 0u) << t;
    }
    EXPECT_EQ(m_Last.size(), 0u);
}

TEST_F(AlertEngineTest, UserVolumeOnceADayAndAgainTheNextDay) {
    Use(Rule(AlertKind::UserVolume, 1e6));
    PollActivity poll = Poll(T0);
    poll.m_UserBytes["alice"] = 600000;
    EXPECT_EQ(Fired(poll), 0u);
    ASSERT_EQ(Fired(poll), 1u);
    EXPECT_EQ(m_Last[0].m_What, "alice moved 1.2 MB today, over 1.0 MB");
    EXPECT_EQ(m_Last[0].m_Filter, R"(user:="alice")");
    m_Engine.SetQuietSeconds(24 * 3600);
    EXPECT_EQ(Fired(poll), 0u);
    poll.m_Time = T0 + 24 * 3600;  // a new day, a new quota
    EXPECT_EQ(Fired(poll), 0u);
    EXPECT_EQ(Fired(poll), 1u);
}

TEST_F(AlertEngineTest, FilterMatchesOverThePeriod) {
    AlertRule rule = Rule(AlertKind::FilterCount, 2, 5);
    rule.m_Filter = "dest:10.0.0.0/8";
    Use(rule);
    EXPECT_EQ(m_Engine.FilterLines(), std::vector<std::string>{"dest:10.0.0.0/8"});
    PollActivity poll = Poll(T0);
    poll.m_Matches = {2};
    EXPECT_EQ(Fired(poll), 0u);
    poll = Poll(T0 + 400);  // the first two are older than five minutes
    poll.m_Matches = {2};
    EXPECT_EQ(Fired(poll), 0u);
    poll = Poll(T0 + 410);
    poll.m_Matches = {1};
    ASSERT_EQ(Fired(poll), 1u);
    EXPECT_EQ(m_Last[0].m_Filter, "dest:10.0.0.0/8");
    poll.m_Matches = {3};
    EXPECT_EQ(Fired(poll, "relay"), 1u);  // each server counts its own
    EXPECT_EQ(Fired(poll, "relay"), 0u);
}

TEST(AlertRuleTest, ProblemsAreNamed) {
    AlertRule rule = Rule(AlertKind::FilterCount, 5);
    rule.m_Filter = "dest:10.0.0.0/33";
    EXPECT_NE(rule.Problem().find("filter line is not valid"), std::string::npos);
    rule.m_Filter = "dest:10.0.0.0/8";
    EXPECT_EQ(rule.Problem(), "");
    rule.m_Threshold = 0;
    EXPECT_EQ(rule.Problem(), "The threshold must be above 0.");
}

}  // namespace

// What a poll brings, as the table tells it: the first poll counts for
// nothing, failed logins keep their client, users' bytes are counted only
// when asked, and a connection meets a filter once.
TEST(ServerActivityTest, CountsWhatEachPollAppliesOnce) {
    FakeMonitor monitor;
    PMCTable table;
    HistoryRecorder recorder;
    ServerActivity activity(&recorder);
    table.SetObserver(&activity);
    recorder.Connected(monitor.Host(), T0);
    activity.SetServer(monitor.Host());
    activity.SetFilters({"dest:10.0.0.0/8"});
    activity.SetCountUsers(true);
    table.CreateConnection(monitor.Host());
    ASSERT_TRUE(table.IsConnected());
    monitor.QueueBatch(
        {EncodeOpen(1, 1, 2, T0, "alice", EncodeSockAddr("10.1.0.7", 4000), ""),
         EncodeUpdate(1, 1, "www", {}, "", EncodeSockAddr("10.2.0.1", 80), "", 500, 5)});
    ASSERT_EQ(table.Poll(), 0);
    const PollActivity baseline = activity.PollDone(T0, recorder.PeriodDone(table, T0));
    EXPECT_TRUE(baseline.m_UserBytes.empty());
    EXPECT_EQ(baseline.m_Matches, std::vector<uint32_t>{0});  // alice's counted, before us

    monitor.QueueBatch(
        {EncodeUpdate(1, 1, "www", {}, "", EncodeSockAddr("10.2.0.1", 80), "", 1500, 5),
         EncodeOpen(1, 2, 2, T0, "mallory", EncodeSockAddr("10.1.0.9", 4001), ""),
         EncodeResult(1, 2, FailedLoginResult, "authentication failed"), EncodeClose(1, 2),
         EncodeOpen(1, 3, 2, T0, "bob", EncodeSockAddr("10.1.0.8", 4002), ""),
         EncodeUpdate(1, 3, "www", {}, "", EncodeSockAddr("10.9.9.9", 443), "", 10, 0)});
    ASSERT_EQ(table.Poll(), 0);
    const PollActivity poll = activity.PollDone(T0 + 10, recorder.PeriodDone(table, T0 + 10));
    EXPECT_EQ(poll.m_Seconds, 10);
    EXPECT_EQ(poll.m_FailedLogins, std::vector<std::string>{"10.1.0.9"});
    EXPECT_EQ(poll.m_UserBytes.at("alice"), 1000u);
    EXPECT_EQ(poll.m_UserBytes.at("bob"), 10u);
    // Bob's, though his destination came after his open; alice's is not new.
    EXPECT_EQ(poll.m_Matches, std::vector<uint32_t>{1});
    EXPECT_EQ(activity.FailedLoginsLastMinute(T0 + 10), 1u);
    EXPECT_EQ(activity.FailedLoginsLastMinute(T0 + 71), 0u);
    EXPECT_DOUBLE_EQ(activity.LastRate().m_In, 101.0);
    table.CloseConnection();
}
