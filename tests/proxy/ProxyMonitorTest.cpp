// The proxy's monitor: one update per connection per batch, clients that stop
// asking or never read, and the service names the records carry.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <ctime>
#include <sys/socket.h>

#include "ProxyHarness.h"
#include "ServiceName.h"
#include "core/monitor/MonStream.h"

namespace {

constexpr uint16_t MonitorPort = 5051;

// Asks once and decodes the whole batch.
std::vector<MonitorRecord> AskForBatch(RawClient& monitor) {
    std::vector<MonitorRecord> records;
    if (!monitor.Send({0x00, 0x01, 0x00})) return records;
    for (;;) {
        const Bytes length = monitor.Read(2);
        if (length.size() != 2) return records;
        const uint16_t size = static_cast<uint16_t>(length[0] << 8 | length[1]);
        if (size == 0) return records;
        const Bytes body = monitor.Read(size);
        MonitorRecord record{};
        EXPECT_EQ(Mon_Decode(size, body.data(), &record), 0);
        records.push_back(record);
    }
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
    EXPECT_LT(proxy.RssKiB(), before + 16 * 1024);
    // Another client is answered as usual: every connection's open, update and close.
    EXPECT_EQ(AskForBatch(watcher).size(), 3u * 100);
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
