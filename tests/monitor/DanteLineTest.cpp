// Dante's lines as it writes them (taken from a real danted 1.4), read for
// the sessions they describe; and the follower of its log through a
// truncation.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "DanteLine.h"
#include "JournalFollower.h"
#include "LogFollower.h"
#include "core/monitor/MonNetAddress.h"

namespace {

constexpr const char* DanteOpenLine =
    "Dec 10 02:36:16 (1796870176.173783) danted[5966]: info: pass(2): tcp/connect [: "
    "username%vglalice@127.0.0.1.48890 127.0.0.1.1081 -> 127.0.0.1.51659 127.0.0.1.8080";

TEST(DanteLineTest, ReadsEachFormOfSessionLine) {
    DanteLine open = ParseDanteLine(DanteOpenLine);
    ASSERT_EQ(open.m_Kind, DanteLine::Kind::Open);
    EXPECT_EQ(open.m_Time, 1796870176u);
    EXPECT_EQ(open.m_Pid, 5966u);
    EXPECT_EQ(open.m_User, "vglalice");
    EXPECT_EQ(open.m_Method, 2);
    EXPECT_EQ(Mon_AddressText(open.m_Client) + ":" + std::to_string(open.m_Client.m_Port),
              "127.0.0.1:48890");
    EXPECT_EQ(open.m_External.m_Port, 51659);
    EXPECT_EQ(open.m_DestPort, 8080);

    const DanteLine close = ParseDanteLine(
        "Dec 10 02:36:16 (1796870176.174424) danted[5966]: info: pass(2): tcp/connect ]: 5000 "
        "-> username%vglalice@127.0.0.1.48890 127.0.0.1.1081 -> 78, 77 -> 127.0.0.1.51659 "
        "127.0.0.1.8080 -> 4999: remote peer closed.  Session duration: 12s");
    ASSERT_EQ(close.m_Kind, DanteLine::Kind::Close);
    EXPECT_EQ(close.m_Key, open.m_Key);
    EXPECT_EQ(close.m_BytesIn, 4999u);  // the external leg's, as the kernel counts them
    EXPECT_EQ(close.m_BytesOut, 77u);
    EXPECT_EQ(close.m_Seconds, 12u);
    EXPECT_EQ(close.m_Reason, "remote peer closed");

    const DanteLine named = ParseDanteLine(
        "(1796870176.5) danted[7]: info: pass(1): tcp/connect [: 2001:db8::7.40000 "
        "2001:db8::1.1080 -> 2001:db8::1.40001 www.example.org.443");
    ASSERT_EQ(named.m_Kind, DanteLine::Kind::Open);
    EXPECT_EQ(Mon_AddressText(named.m_Client), "2001:db8::7");
    EXPECT_EQ(named.m_DestName, "www.example.org");
    EXPECT_EQ(named.m_DestPort, 443);
    EXPECT_FALSE(Mon_HasAddress(named.m_Dest));

    const DanteLine blocked = ParseDanteLine(
        "Dec 10 02:36:16 (1796870176.207273) danted[5950]: info: block(1): tcp/connect ]: "
        "127.0.0.1.48918 127.0.0.1.1081 -> 0.0.0.0.0 127.0.0.1.9999");
    EXPECT_EQ(blocked.m_Kind, DanteLine::Kind::Blocked);
    EXPECT_EQ(blocked.m_DestPort, 9999);

    const DanteLine login = ParseDanteLine(
        "Dec 10 02:36:16 (1796870176.200381) danted[5949]: info: block(1): tcp/accept ]: "
        "127.0.0.1.48906 127.0.0.1.1081: error after reading 21 bytes in 0 seconds: system "
        "password authentication failed for user \"vglalice\"");
    EXPECT_EQ(login.m_Kind, DanteLine::Kind::LoginFailed);
    EXPECT_EQ(login.m_User, "vglalice");

    EXPECT_EQ(ParseDanteLine("Dec 10 02:36:14 (1796870174.8) danted[5946]: info: "
                             "Dante/server[1/1] v1.4.2 running")
                  .m_Kind,
              DanteLine::Kind::Other);
    EXPECT_EQ(ParseDanteLine("(1796870176.1) danted[1]: info: pass(2): tcp/connect [: "
                             "127.0.0.1 127.0.0.1.1081 ->")
                  .m_Kind,
              DanteLine::Kind::Unreadable);
}

TEST(DanteLineTest, TheFollowerLosesNoLineThroughATruncation) {
    char path[] = "/tmp/vgl-dante-log-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "old 1\nold 2\n";
    LogFollower follower(path);
    std::vector<std::string> lines;
    follower.Recent(lines, 1 << 20);
    EXPECT_EQ(lines, (std::vector<std::string>{"old 1", "old 2"}));
    std::ofstream(path, std::ios::app) << "new 1\nhalf";
    lines.clear();
    follower.Poll(lines);
    EXPECT_EQ(lines, std::vector<std::string>{"new 1"});
    std::ofstream(path, std::ios::trunc) << "after 1\n";  // copytruncate
    lines.clear();
    follower.Poll(lines);
    EXPECT_EQ(lines, std::vector<std::string>{"after 1"});
    std::remove(path);
    follower.Poll(lines);
    EXPECT_NE(follower.Problem().find("is gone"), std::string::npos);
}

TEST(DanteLineTest, AJournalEntryBecomesALineOfTheFileForm) {
    std::string line, cursor;
    ASSERT_TRUE(JournalFollower::EntryLine(
        R"({"__CURSOR":"s=1;i=2","__REALTIME_TIMESTAMP":"1796870176173783","_PID":"5966",)"
        R"("SYSLOG_IDENTIFIER":"danted","MESSAGE":"info: pass(2): tcp/connect [: \u0041")"
        R"("})",
        line, cursor));
    EXPECT_EQ(line, "(1796870176.173783) danted[5966]: info: pass(2): tcp/connect [: A");
    EXPECT_EQ(cursor, "s=1;i=2");
    // A message that is not UTF-8 comes as an array of its bytes.
    ASSERT_TRUE(JournalFollower::EntryLine(R"({"MESSAGE":[104,233]})", line, cursor));
    EXPECT_EQ(line.substr(line.size() - 2), "h\xe9");
}

}  // namespace
