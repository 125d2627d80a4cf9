// vgl-monitor beside a real danted: every session Dante made shows with what
// happened (users, addresses, ports, byte totals as Dante counted them,
// results), an open session's bytes grow between polls, and neither a
// rotated log nor a restarted monitor loses a session still open.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "DantedServer.h"
#include "ProxyHarness.h"
#include "ServiceName.h"
#include "core/monitor/MonNetAddress.h"
#include "core/monitor/MonRecordKind.h"
#include "core/monitor/MonStream.h"

namespace {

constexpr uint16_t MonitorPort = 5051;

class DanteMonitorProcess : public ServerProcess {
public:
    DanteMonitorProcess(const std::string& host, const std::string& log) {
        Start({VGL_MONITOR_BINARY, "--dante-log", log, "--monitor", host}, "monitor on");
    }
};

// What one client of the monitor has heard of each connection.
struct DanteSeen {
    MonitorRecord m_Open{}, m_Update{}, m_Result{};
    bool m_bOpen = false, m_bUpdate = false, m_bResult = false, m_bClosed = false;
};

class DanteWatcher {
public:
    explicit DanteWatcher(const std::string& host) : m_Monitor(host, MonitorPort) {}
    void Poll() {
        for (const MonitorRecord& record : AskForBatch(m_Monitor)) {
            DanteSeen& seen = m_Seen[record.m_IdLow];
            if (record.m_Kind == MonOpenKind.m_Word) {
                seen.m_Open = record, seen.m_bOpen = true;
            } else if (record.m_Kind == MonUpdateKind.m_Word) {
                seen.m_Update = record, seen.m_bUpdate = true;
            } else if (record.m_Kind == MonResultKind.m_Word) {
                seen.m_Result = record, seen.m_bResult = true;
            } else {
                seen.m_bClosed = true;
            }
        }
    }
    // Polls until `done` holds, within a bound.
    template <class Done>
    bool PollUntil(Done done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        for (Poll(); !done(m_Seen); Poll()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    const std::map<uint32_t, DanteSeen>& Seen() const { return m_Seen; }

private:
    RawClient m_Monitor;
    std::map<uint32_t, DanteSeen> m_Seen;
};

size_t ClosedCount(const std::map<uint32_t, DanteSeen>& seen) {
    size_t closed = 0;
    for (const auto& [id, one] : seen) closed += one.m_bClosed;
    return closed;
}

uint16_t DestPort(const MonitorRecord& update) {
    return static_cast<uint16_t>(update.m_DestAddr[2] << 8 | update.m_DestAddr[3]);
}

// A destination that sends when told, and a SOCKS5 client through Dante that
// reads it: a session held open for as long as the test wants.
class DanteHeldSession {
public:
    DanteHeldSession(const DantedServer& dante, const std::string& destHost)
        : m_Client(dante.Host(), DantedServer::Port) {
        m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = LoopbackAddress(destHost, 0);
        bind(m_Listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_Listen, 1);
        socklen_t length = sizeof address;
        getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_Port = ntohs(address.sin_port);
        m_Client.Send({0x05, 0x01, 0x00});
        m_bReady = m_Client.Read(2) == Bytes{0x05, 0x00};
        m_Client.Send(ConnectRequest(destHost, m_Port));
        m_Dest = accept(m_Listen, nullptr, nullptr);
        m_bReady = m_bReady && m_Client.Read(10).size() == 10 && m_Dest >= 0;
    }
    ~DanteHeldSession() {
        close(m_Dest);
        close(m_Listen);
    }
    bool Ready() const { return m_bReady; }
    uint16_t Port() const { return m_Port; }
    // `size` bytes from the destination, read by the client.
    bool Deliver(size_t size) {
        const Bytes bytes(size, 'x');
        return send(m_Dest, bytes.data(), size, MSG_NOSIGNAL) == ssize_t(size) &&
               m_Client.Read(size).size() == size;
    }
    void End() {
        m_Client.ShutdownSend();
        shutdown(m_Dest, SHUT_WR);
        m_Client.Closed();
    }

private:
    int m_Listen = -1, m_Dest = -1;
    uint16_t m_Port = 0;
    RawClient m_Client;
    bool m_bReady = false;
};

class VglMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_Dante.Problem().empty()) GTEST_SKIP() << m_Dante.Problem();
    }
    DantedServer m_Dante{RandomLoopbackHost()};
};

TEST_F(VglMonitorTest, EverySessionShowsAsDanteLoggedIt) {
    DanteMonitorProcess monitor(m_Dante.Host(), m_Dante.LogPath());
    ASSERT_TRUE(monitor.Started()) << monitor.Log();
    DanteWatcher watcher(m_Dante.Host());
    watcher.Poll();
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    struct Transfer {
        size_t m_Size, m_Request;
        bool m_bLogin;
    };
    std::vector<Transfer> transfers;
    const std::string login = std::string(DantedServer::User) + ":" + DantedServer::Password + "@";
    for (size_t i = 0; i < 20; ++i) {
        const size_t size = 1000 * (i + 1) + i;
        const bool withLogin = i % 2 == 0;
        const ProgramResult got = RunCurl(
            {"--socks5", (withLogin ? login : "") + m_Dante.Proxy(), "-o", "/dev/null",
             "http://" + webHost + ":" + std::to_string(web.Port()) + "/" + std::to_string(size)});
        ASSERT_EQ(got.m_Status, 0) << got.m_Err;
        transfers.push_back({size, web.LastRequestBytes(), withLogin});
    }
    // A port nothing listens on, a port the rule blocks, a wrong password.
    RunCurl({"--socks5", m_Dante.Proxy(), "http://" + webHost + ":1/"});
    RunCurl({"--socks5", m_Dante.Proxy(),
             "http://" + webHost + ":" + std::to_string(DantedServer::BlockedPort) + "/"});
    RunCurl({"--socks5", std::string(DantedServer::User) + ":wrong@" + m_Dante.Proxy(),
             "http://" + webHost + ":" + std::to_string(web.Port()) + "/1"});
    ASSERT_TRUE(watcher.PollUntil([](const auto& seen) { return ClosedCount(seen) == 23; }))
        << ClosedCount(watcher.Seen()) << " closed\n"
        << monitor.Log();

    std::vector<const DanteSeen*> order;
    for (const auto& [id, seen] : watcher.Seen()) order.push_back(&seen);
    for (size_t i = 0; i < transfers.size(); ++i) {
        SCOPED_TRACE("transfer " + std::to_string(i));
        const DanteSeen& seen = *order[i];
        const Transfer& transfer = transfers[i];
        EXPECT_EQ(std::string(seen.m_Open.m_UserName), transfer.m_bLogin ? DantedServer::User : "");
        EXPECT_EQ(seen.m_Open.m_AuthMethod, transfer.m_bLogin ? 2 : 0);
        EXPECT_EQ(Mon_AddressText(Mon_AddressOfSockAddr(seen.m_Open.m_SourceAddr)), "127.0.0.1");
        EXPECT_EQ(Mon_AddressText(Mon_AddressOfSockAddr(seen.m_Update.m_DestAddr)), webHost);
        EXPECT_EQ(DestPort(seen.m_Update), web.Port());
        EXPECT_EQ(std::string(seen.m_Update.m_ServiceName), ServiceName(web.Port()).substr(0, 15));
        EXPECT_EQ(seen.m_Update.m_TrafficIn, LocalHttpServer::ReplyBytes(transfer.m_Size));
        EXPECT_EQ(seen.m_Update.m_TrafficOut, transfer.m_Request);
        EXPECT_FALSE(seen.m_bResult);
    }
    const DanteSeen& refused = *order[20];
    EXPECT_EQ(refused.m_Result.m_ResultCode, 5u);
    EXPECT_STREQ(refused.m_Result.m_ResultText, "remote peer error (Connection refused)");
    EXPECT_EQ(order[21]->m_Result.m_ResultCode, 2u);
    EXPECT_EQ(DestPort(order[21]->m_Update), DantedServer::BlockedPort);
    EXPECT_EQ(order[22]->m_Result.m_ResultCode, 0x101u);
    EXPECT_STREQ(order[22]->m_Open.m_UserName, DantedServer::User);

    const ProgramResult check = RunProgram(
        {VGL_MONITOR_BINARY, "--check", m_Dante.Host(), "--polls", "2", "--period", "0"});
    EXPECT_EQ(check.m_Status, 0) << check.m_Out;
}

TEST_F(VglMonitorTest, AnOpenSessionGrowsThroughARotationAndARestart) {
    const std::string destHost = RandomLoopbackHost();
    auto monitor = std::make_unique<DanteMonitorProcess>(m_Dante.Host(), m_Dante.LogPath());
    ASSERT_TRUE(monitor->Started()) << monitor->Log();
    DanteHeldSession session(m_Dante, destHost);
    ASSERT_TRUE(session.Ready());
    const auto in = [](uint32_t bytes) {
        return [bytes](const auto& seen) {
            return seen.size() == 1 && seen.begin()->second.m_Update.m_TrafficIn == bytes;
        };
    };
    {
        DanteWatcher watcher(m_Dante.Host());
        ASSERT_TRUE(session.Deliver(1000));
        ASSERT_TRUE(watcher.PollUntil(in(1000))) << monitor->Log();
        ASSERT_TRUE(m_Dante.Rotate());
        ASSERT_TRUE(session.Deliver(2000));
        ASSERT_TRUE(watcher.PollUntil(in(3000)));
        EXPECT_FALSE(watcher.Seen().begin()->second.m_bClosed);
    }
    monitor.reset();
    monitor = std::make_unique<DanteMonitorProcess>(m_Dante.Host(), m_Dante.LogPath());
    ASSERT_TRUE(monitor->Started()) << monitor->Log();
    DanteWatcher watcher(m_Dante.Host());
    ASSERT_TRUE(watcher.PollUntil(in(3000))) << monitor->Log();
    const DanteSeen& learned = watcher.Seen().begin()->second;
    EXPECT_EQ(DestPort(learned.m_Update), session.Port());
    ASSERT_TRUE(session.Deliver(500));
    session.End();
    ASSERT_TRUE(watcher.PollUntil([](const auto& seen) { return ClosedCount(seen) == 1; }));
    EXPECT_EQ(watcher.Seen().begin()->second.m_Update.m_TrafficIn, 3500u);
}

}  // namespace
