// The proxy's monitor: one update per connection per batch, clients that stop
// asking or never read (and the slots they hold), and the service names the
// records carry.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "ProxyHarness.h"
#include "ServiceName.h"
#include "core/monitor/MonStream.h"

namespace {

constexpr uint16_t MonitorPort = 5051;

// Asks and never reads, until the proxy closes the connection (or 30 s pass).
bool AskUntilClosed(int fd) {
    const timeval step{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &step, sizeof step);
    Bytes requests;
    for (int i = 0; i < 4096; ++i) requests.insert(requests.end(), {0x00, 0x01, 0x00});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        if (send(fd, requests.data(), requests.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
            return true;
    }
    return false;
}

TEST(ProxyMonitorTest, AClientThatStopsAskingGetsOneUpdatePerConnection) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient monitor(proxy.Host(), MonitorPort);
    ASSERT_TRUE(AskForBatch(monitor).empty());

    // Eight megabytes move in many chunks while the client does not ask.
    constexpr size_t Size = 8 << 20;
    const std::string url = "http://" + webHost + ":" + std::to_string(web.Port()) + "/";
    const ProgramResult result = RunCurl({"--socks5", proxy.Proxy(), url + std::to_string(Size)});
    ASSERT_EQ(result.m_Status, 0) << result.m_Err;
    ASSERT_TRUE(proxy.WaitForLog(" time="));

    const std::vector<MonitorRecord> records = AskForBatch(monitor);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].m_Kind, RecordKindOpen);
    EXPECT_EQ(records[1].m_Kind, RecordKindUpdate);
    EXPECT_EQ(records[2].m_Kind, RecordKindClose);
    EXPECT_EQ(records[1].m_TrafficIn, LocalHttpServer::ReplyBytes(Size));
    EXPECT_EQ(records[1].m_TrafficOut, web.LastRequestBytes());
    EXPECT_EQ(std::string(records[1].m_DestName), webHost);
    EXPECT_EQ(records[0].m_IdLow, records[2].m_IdLow);
    // The close carries the end on the start time's clock, so VGL's duration stops there.
    EXPECT_GE(records[2].m_CloseValue, records[0].m_StartTime);
    EXPECT_LE(records[2].m_CloseValue, static_cast<uint32_t>(std::time(nullptr)));
    EXPECT_TRUE(AskForBatch(monitor).empty());
}

// AddressSanitizer keeps freed memory in quarantine and maps shadow memory
// beside it: under it only a far larger growth says anything.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t AllowedGrowthKiB = 64 * 1024;
#else
constexpr size_t AllowedGrowthKiB = 16 * 1024;
#endif

TEST(ProxyMonitorTest, AMonitorClientThatNeverReadsSlowsNothingAndCostsLittle) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient stuck(proxy.Host(), MonitorPort);
    fcntl(stuck.Fd(), F_SETFL, O_NONBLOCK);
    // Requests until neither side takes more: its answers pile up unread.
    Bytes request;
    for (int i = 0; i < 4096; ++i) request.insert(request.end(), {0x00, 0x01, 0x00});
    while (send(stuck.Fd(), request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    }
    RawClient watcher(proxy.Host(), MonitorPort);
    const size_t before = proxy.RssKiB();
    const std::string url = "http://" + webHost + ":" + std::to_string(web.Port()) + "/1000";
    for (int i = 0; i < 100; ++i) {
        const ProgramResult result = RunCurl({"--socks5", proxy.Proxy(), url});
        ASSERT_EQ(result.m_Status, 0) << result.m_Err;
    }
    ASSERT_TRUE(proxy.WaitForLog("result=\"succeeded\"", 100));
    EXPECT_LT(proxy.RssKiB(), before + AllowedGrowthKiB);
    // Another client is answered as usual: every connection's open, update and close.
    EXPECT_EQ(AskForBatch(watcher).size(), 3u * 100);
}

// Clients that never ask, or ask without reading, hold a slot for the
// handshake time-out only, and a few of them per address; then VGL's poll is answered.
TEST(ProxyMonitorTest, MonitorClientsThatNeverReadGiveTheirSlotsBack) {
    ProxyProcess proxy({"--max-monitor-clients", "7", "--handshake-timeout", "1"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    std::vector<RawClient> silent;
    for (int i = 0; i < 6; ++i) silent.emplace_back(proxy.Host(), MonitorPort, "127.0.0.2");
    for (int i = 0; i < 2; ++i) silent.emplace_back(proxy.Host(), MonitorPort, "127.0.0.3");
    EXPECT_TRUE(silent[4].Closed());
    EXPECT_TRUE(silent[5].Closed());
    EXPECT_TRUE(proxy.WaitForLog("4 monitor clients from this address already connected"));
    const int stuck = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A small window and small segments (not loopback's 64 KiB), so that the
    // proxy's answers soon have to wait.
    const int window = 4096, segment = 536;
    setsockopt(stuck, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    setsockopt(stuck, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    const sockaddr_in from = LoopbackAddress("127.0.0.4", 0);
    const sockaddr_in to = LoopbackAddress(proxy.Host(), MonitorPort);
    ASSERT_EQ(bind(stuck, reinterpret_cast<const sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(connect(stuck, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    EXPECT_TRUE(AskUntilClosed(stuck));
    close(stuck);
    // All seven slots are taken; each one is given back at its deadline.
    EXPECT_TRUE(proxy.WaitForLog("sent no request within 1 s", 6));
    EXPECT_TRUE(proxy.WaitForLog("did not read its batch within 1 s"));
    RawClient vgl(proxy.Host(), MonitorPort, "127.0.0.5");
    ASSERT_TRUE(vgl.Send({0x00, 0x01, 0x00}));
    EXPECT_EQ(vgl.Read(2), (Bytes{0x00, 0x00}));
}

TEST(ProxyMonitorTest, ServicesAreNamedAsTheGraphNamesThem) {
    EXPECT_EQ(ServiceName(80), "www");
    EXPECT_EQ(ServiceName(20), "ftp-data");
    EXPECT_EQ(ServiceName(1525), "archie");
    EXPECT_EQ(ServiceName(43), "whois");
    EXPECT_EQ(ServiceName(22), "ssh");  // from the services database
    EXPECT_EQ(ServiceName(59999), "59999");
}

}  // namespace
