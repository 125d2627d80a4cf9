// The socket transport over real loopback sockets, against the fake monitor.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/monitor/MonTcp.h"
#include "support/FakeMonitor.h"

namespace {

constexpr uint16_t Capacity = 1024;

// The caller's error outputs, preset so that a write to them shows.
struct ErrorOut {
    int32_t m_Code = 4711;
    char m_Text[128] = "untouched";
    std::string Text() const { return m_Text; }
};

class MonTcpTest : public ::testing::Test {
protected:
    void SetUp() override { m_OpenCountBefore = Mon_TcpOpenCount; }
    void TearDown() override {
        Mon_TcpSetTimeouts(15000, 30000);
        Mon_TcpSetHostLookup(nullptr);
        for (MonSocket s : m_Sockets) {
            Mon_TcpClose(s, &m_Error.m_Code, m_Error.m_Text);
        }
        EXPECT_EQ(Mon_TcpOpenCount, m_OpenCountBefore);
    }

    MonSocket Connect(const std::string& host, uint16_t port = FakeMonitor::Port) {
        MonSocket s = Mon_TcpConnect(host.c_str(), port, &m_Error.m_Code, m_Error.m_Text);
        if (s >= 0) {
            m_Sockets.push_back(s);
        }
        return s;
    }

    int32_t Recv(MonSocket s, ErrorOut& error) {
        return Mon_TcpRecv(s, Capacity, m_Buffer, &error.m_Code, error.m_Text);
    }

    FakeMonitor m_Monitor;
    ErrorOut m_Error;
    uint8_t m_Buffer[Capacity];
    std::vector<MonSocket> m_Sockets;
    int32_t m_OpenCountBefore = 0;
};

std::string TextOf(int32_t code) {
    Mon_TcpSetLastError(code);
    ErrorOut error;
    Mon_TcpError(&error.m_Code, error.m_Text);
    EXPECT_EQ(error.m_Code, code);
    return error.Text();
}

TEST(MonTcpErrorTest, FormatsCodeWithTheFirstMatchingRow) {
    EXPECT_EQ(TextOf(10004), "WinSock error=10004 WSAEINTR - blocking WinSock call cancelled");
    EXPECT_EQ(TextOf(10061),
              "WinSock error=10061 WSAECONNREFUSED - connect attempt forcefully rejected");
    EXPECT_EQ(TextOf(10101), "WinSock error=10101 WSAEDISCON");
    EXPECT_EQ(TextOf(11004),
              "WinSock error=11004 WSANO_DATA - valid name, not data record of requested type");
    EXPECT_EQ(TextOf(0), "WinSock error=0 Unknown WinSock error");
    EXPECT_EQ(TextOf(10072), "WinSock error=10072 Unknown WinSock error");
}

// A resolver that gives the result the test sets, whatever the name.
int g_LookupResult = 0;
int ScriptedLookup(const char*, uint32_t* address) {
    *address = htonl(INADDR_LOOPBACK);
    return g_LookupResult;
}

TEST_F(MonTcpTest, EachLookupResultFailsWithItsCodeAndText) {
    Mon_TcpSetHostLookup(ScriptedLookup);
    const struct {
        int m_Result;
        int32_t m_Code;
        const char* m_Text;
    } cases[] = {
        {EAI_NONAME, 11001, "WSAHOST_NOT_FOUND - Authoritive Answer Host not found"},
        {EAI_AGAIN, 11002, "WSATRY_AGAIN - Non-Authoritive Host not found"},
        {EAI_FAIL, 11003, "WSANO_RECOVERY - Non recoverable errors"},
        {EAI_NODATA, 11004, "WSANO_DATA - valid name, not data record of requested type"},
        {MonLookupNoIpv4, 11004, "WSANO_DATA - valid name, not data record of requested type"},
        {EAI_MEMORY, 10055, "WSAENOBUFS - no buffer space available"},
        {EAI_OVERFLOW, 11003, "WSANO_RECOVERY - Non recoverable errors"},
    };
    for (const auto& lookup : cases) {
        g_LookupResult = lookup.m_Result;
        EXPECT_EQ(Connect("any.name"), -1);
        EXPECT_EQ(m_Error.m_Code, lookup.m_Code) << lookup.m_Result;
        EXPECT_EQ(m_Error.Text(),
                  "WinSock error=" + std::to_string(lookup.m_Code) + " " + lookup.m_Text);
    }
    EXPECT_EQ(Mon_TcpOpenCount, m_OpenCountBefore);
}

TEST_F(MonTcpTest, LocalhostIsLookedUpWithoutAResolver) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    EXPECT_GE(Connect("localhost", ntohs(address.sin_port)), 0);
    ::close(listener);
}

TEST_F(MonTcpTest, RefusedConnectIsTranslated) {
    // A bound socket that does not listen refuses connections on its port.
    int bound = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    ::getsockname(bound, reinterpret_cast<sockaddr*>(&address), &size);

    EXPECT_EQ(Connect("127.0.0.1", ntohs(address.sin_port)), -1);
    EXPECT_EQ(m_Error.m_Code, 10061);
    EXPECT_EQ(m_Error.Text(),
              "WinSock error=10061 WSAECONNREFUSED - connect attempt forcefully rejected");
    ::close(bound);
}

TEST_F(MonTcpTest, ConnectGivesUpWithTimedOut) {
    // A listener with a full accept queue lets further connects hang.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);

    Mon_TcpSetTimeouts(200, 30000);
    bool timedOut = false;
    for (int attempt = 0; attempt < 16 && !timedOut; ++attempt) {
        timedOut = Connect("127.0.0.1", ntohs(address.sin_port)) < 0;
    }
    ASSERT_TRUE(timedOut);
    EXPECT_EQ(m_Error.m_Code, 10060);
    EXPECT_EQ(m_Error.Text(), "WinSock error=10060 WSAETIMEDOUT - operation timed out");
    ::close(listener);
}

TEST_F(MonTcpTest, OpenCountFollowsConnectsClosesAndFailedAttempts) {
    FakeMonitor second;
    MonSocket first = Mon_TcpConnect(m_Monitor.Host().c_str(), FakeMonitor::Port, &m_Error.m_Code,
                                     m_Error.m_Text);
    ASSERT_GE(first, 0);
    EXPECT_EQ(m_Error.m_Code, 4711) << "success leaves the outputs alone";
    MonSocket other =
        Mon_TcpConnect(second.Host().c_str(), FakeMonitor::Port, &m_Error.m_Code, m_Error.m_Text);
    ASSERT_GE(other, 0);
    EXPECT_EQ(Mon_TcpOpenCount, m_OpenCountBefore + 2);

    EXPECT_EQ(Mon_TcpClose(first, &m_Error.m_Code, m_Error.m_Text), 0);
    EXPECT_EQ(Mon_TcpOpenCount, m_OpenCountBefore + 1);
    EXPECT_EQ(Mon_TcpClose(other, &m_Error.m_Code, m_Error.m_Text), 0);
    EXPECT_EQ(Mon_TcpOpenCount, m_OpenCountBefore);

    g_LookupResult = EAI_NONAME;  // a failed lookup opens nothing, without asking a resolver
    Mon_TcpSetHostLookup(ScriptedLookup);
    EXPECT_EQ(Connect("no-such-host.invalid"), -1);
    m_Error = ErrorOut{};
    EXPECT_EQ(Mon_TcpClose(-1, &m_Error.m_Code, m_Error.m_Text), 0);
    EXPECT_EQ(Mon_TcpOpenCount, m_OpenCountBefore);
    EXPECT_EQ(m_Error.m_Code, 4711) << "close never writes the outputs";
}

TEST_F(MonTcpTest, InvalidSocketIsRefusedWithFixedTexts) {
    uint8_t byte = 0;
    EXPECT_EQ(Mon_TcpSend(-1, 1, &byte, &m_Error.m_Code, m_Error.m_Text), -1);
    EXPECT_EQ(m_Error.m_Code, 10022);
    EXPECT_EQ(m_Error.Text(), "WSAEINVAL - Mon_TcpSend() invalid socket");
    EXPECT_EQ(Recv(-1, m_Error), -1);
    EXPECT_EQ(m_Error.m_Code, 10022);
    EXPECT_EQ(m_Error.Text(), "WSAEINVAL - Mon_TcpRecv() invalid socket");
}

TEST_F(MonTcpTest, SendPutsExactlyTheFrameOnTheWire) {
    MonSocket s = Connect(m_Monitor.Host());
    ASSERT_GE(s, 0);
    const uint8_t request = 0x00;
    EXPECT_EQ(Mon_TcpSend(s, 0, nullptr, &m_Error.m_Code, m_Error.m_Text), 0);
    EXPECT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);
    MonBytes large(60000, 0x5A);
    EXPECT_EQ(Mon_TcpSend(s, 60000, large.data(), &m_Error.m_Code, m_Error.m_Text), 60000);
    ASSERT_TRUE(m_Monitor.WaitForRequests(3));

    const std::vector<MonBytes> requests = m_Monitor.Requests();
    EXPECT_EQ(requests[0], (MonBytes{0x00, 0x00}));
    EXPECT_EQ(requests[1], (MonBytes{0x00, 0x01, 0x00}));
    EXPECT_EQ(requests[2], FrameMessage(large));
    EXPECT_EQ(m_Monitor.Received().size(), 2u + 3u + 60002u);
    EXPECT_EQ(m_Error.m_Code, 4711);
}

TEST_F(MonTcpTest, ReceivesBodiesUpToTheCapacityAndStaysInStepAfterAnOversizedOne) {
    const MonBytes full(1024, 0x11), oversized(1025, 0x22), after{1, 2, 3};
    m_Monitor.QueueRaw(Concat(
        {FrameMessage(full), FrameMessage(oversized), FrameMessage(after), FrameMessage({})}));
    MonSocket s = Connect(m_Monitor.Host());
    ASSERT_GE(s, 0);
    const uint8_t request = 0x00;
    ASSERT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);

    ASSERT_EQ(Recv(s, m_Error), 1024);
    EXPECT_EQ(MonBytes(m_Buffer, m_Buffer + 1024), full);

    EXPECT_EQ(Recv(s, m_Error), -1);
    EXPECT_EQ(m_Error.m_Code, 10040);
    EXPECT_EQ(m_Error.Text(), "WSAEMSGSIZE - recv() invalid message length");

    ErrorOut untouched;
    ASSERT_EQ(Recv(s, untouched), 3);
    EXPECT_EQ(MonBytes(m_Buffer, m_Buffer + 3), after);

    std::memset(m_Buffer, 0xEE, sizeof m_Buffer);
    EXPECT_EQ(Recv(s, untouched), 0) << "the empty message is a message, not a failure";
    EXPECT_EQ(m_Buffer[0], 0xEE);
    EXPECT_EQ(untouched.m_Code, 4711);
}

TEST_F(MonTcpTest, LengthFieldAndBodyArrivingByteByByte) {
    m_Monitor.QueueReply({FakeStep::SendBytewise(FrameMessage({9, 8, 7, 6, 5}))});
    MonSocket s = Connect(m_Monitor.Host());
    ASSERT_GE(s, 0);
    const uint8_t request = 0x00;
    ASSERT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);
    ASSERT_EQ(Recv(s, m_Error), 5);
    EXPECT_EQ(MonBytes(m_Buffer, m_Buffer + 5), (MonBytes{9, 8, 7, 6, 5}));
}

TEST_F(MonTcpTest, PeerClosingBeforeOrInsideALengthFieldIsAReset) {
    const uint8_t request = 0x00;
    for (const MonBytes& beforeClose : {FrameMessage({1, 2}), MonBytes{0x00}}) {
        m_Monitor.QueueReply({FakeStep::Send(beforeClose), FakeStep::Close()});
        MonSocket s = Connect(m_Monitor.Host());
        ASSERT_GE(s, 0);
        ASSERT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);
        if (beforeClose.size() > 1) {
            ASSERT_EQ(Recv(s, m_Error), 2);
        }
        EXPECT_EQ(Recv(s, m_Error), -1);
        EXPECT_EQ(m_Error.m_Code, 10054);
        EXPECT_EQ(m_Error.Text(), "WSAECONNRESET - recv() failed message length=0");
    }
}

TEST_F(MonTcpTest, PeerClosingInsideABodyReportsTheLastErrorAsItStands) {
    m_Monitor.QueueReply({FakeStep::Send({0x00, 0x10, 1, 2, 3}), FakeStep::Close()});
    MonSocket s = Connect(m_Monitor.Host());
    ASSERT_GE(s, 0);
    const uint8_t request = 0x00;
    ASSERT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);
    Mon_TcpSetLastError(0);
    EXPECT_EQ(Recv(s, m_Error), -1);
    EXPECT_EQ(m_Error.m_Code, 0);
    EXPECT_EQ(m_Error.Text(), "WinSock error=0 Unknown WinSock error");
}

TEST_F(MonTcpTest, ResetPeerFailsReceiveAndSendWithoutKillingTheProcess) {
    m_Monitor.QueueReply({FakeStep::Send({0x00, 0x10, 1, 2, 3}), FakeStep::Reset()});
    MonSocket s = Connect(m_Monitor.Host());
    ASSERT_GE(s, 0);
    const uint8_t request = 0x00;
    ASSERT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);
    EXPECT_EQ(Recv(s, m_Error), -1);
    EXPECT_EQ(m_Error.m_Code, 10054);
    EXPECT_EQ(m_Error.Text(),
              "WinSock error=10054 WSAECONNRESET - connection reset by the remote side");

    // Without MSG_NOSIGNAL this write would raise SIGPIPE and end the test run.
    m_Error = ErrorOut{};
    EXPECT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), -1);
    EXPECT_EQ(m_Error.m_Code, 10054);
}

TEST_F(MonTcpTest, ReceiveGivesUpWithTimedOutWhenTheMonitorStalls) {
    m_Monitor.QueueReply({FakeStep::Send({0x00}), FakeStep::Stall()});
    MonSocket s = Connect(m_Monitor.Host());
    ASSERT_GE(s, 0);
    Mon_TcpSetTimeouts(15000, 200);
    const uint8_t request = 0x00;
    ASSERT_EQ(Mon_TcpSend(s, 1, &request, &m_Error.m_Code, m_Error.m_Text), 1);
    EXPECT_EQ(Recv(s, m_Error), -1);
    EXPECT_EQ(m_Error.m_Code, 10060);
    EXPECT_EQ(m_Error.Text(), "WinSock error=10060 WSAETIMEDOUT - operation timed out");
}

}  // namespace
