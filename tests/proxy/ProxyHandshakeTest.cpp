// Hand-made SOCKS5 bytes against the real vgl-proxy: reply codes, malformed
// and truncated handshakes, a slow client, the handshake budget and the
// connection limit, the allow list.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "ProxyHarness.h"

namespace {

const Bytes Greeting = {0x05, 0x01, 0x00};
const Bytes Chosen = {0x05, 0x00};

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes HttpGet(size_t size) {
    const std::string text = "GET /" + std::to_string(size) + " HTTP/1.0\r\n\r\n";
    return Bytes(text.begin(), text.end());
}

class ProxyHandshakeTest : public ::testing::Test {
protected:
    ProxyHandshakeTest() : m_WebHost(RandomLoopbackHost()), m_Web(m_WebHost, 0) {}

    RawClient Client(const ProxyProcess& proxy) {
        return RawClient(proxy.Host(), ProxyProcess::Port);
    }
    // Greets, connects to the web server and fetches `size` bytes.
    void ExpectServed(const ProxyProcess& proxy, size_t size = 100) {
        RawClient client = Client(proxy);
        ASSERT_TRUE(client.Send(Concat(Greeting, ConnectRequest(m_WebHost, m_Web.Port()))));
        ASSERT_EQ(client.Read(2), Chosen);
        const Bytes reply = client.Read(10);
        ASSERT_EQ(reply.size(), 10u);
        EXPECT_EQ(reply[1], 0x00);
        ASSERT_TRUE(client.Send(HttpGet(size)));
        EXPECT_EQ(client.Read(LocalHttpServer::ReplyBytes(size) + 1).size(),
                  LocalHttpServer::ReplyBytes(size));
    }
    // The reply code the proxy gives `request` after a plain greeting.
    uint8_t ReplyCode(const ProxyProcess& proxy, const Bytes& request) {
        RawClient client = Client(proxy);
        client.Send(Concat(Greeting, request));
        const Bytes reply = client.Read(12);
        return reply.size() >= 4 && reply[0] == 0x05 ? reply[3] : 0xEE;
    }

    std::string m_WebHost;
    LocalHttpServer m_Web;
};

// A listener with a full accept queue, so that a connect to it hangs.
struct Unanswering {
    explicit Unanswering(const std::string& host) {
        m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        socklen_t length = sizeof address;
        bind(m_Listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_Listen, 0);
        getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_Port = ntohs(address.sin_port);
        // One connection fills a queue of length 0; later SYNs are dropped.
        m_Fillers.emplace_back(host, m_Port);
    }
    ~Unanswering() { close(m_Listen); }
    int m_Listen = -1;
    uint16_t m_Port = 0;
    std::vector<RawClient> m_Fillers;
};

TEST_F(ProxyHandshakeTest, EachFailureGetsItsReplyCode) {
    ProxyProcess proxy({"--connect-timeout", "1"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    EXPECT_EQ(ReplyCode(proxy, ConnectRequest(m_WebHost, m_Web.Port(), 0x02)), 0x07);  // BIND
    EXPECT_EQ(ReplyCode(proxy, ConnectRequest(m_WebHost, m_Web.Port(), 0x03)), 0x07);  // UDP
    EXPECT_EQ(ReplyCode(proxy, ConnectRequest("0.0.0.0", m_Web.Port())), 0x02);
    EXPECT_EQ(ReplyCode(proxy, ConnectRequest(m_WebHost, 0)), 0x02);
    Unanswering silent(m_WebHost);
    EXPECT_EQ(ReplyCode(proxy, ConnectRequest(m_WebHost, silent.m_Port)), 0x06);
    // A name with a NUL byte is no name: cut at the NUL it would be another one.
    EXPECT_EQ(ReplyCode(proxy, ConnectByName(std::string("localhost\0.example", 17), 80)), 0x04);

    // An unknown address type is answered 0x08, and the connection closes.
    RawClient unknown = Client(proxy);
    unknown.Send(Concat(Greeting, {0x05, 0x01, 0x00, 0x09, 1, 2, 3, 4, 0, 80}));
    EXPECT_EQ(unknown.Read(4), (Bytes{0x05, 0x00, 0x05, 0x08}));
    EXPECT_TRUE(unknown.Closed());

    // An IPv6 destination is taken: ::1 refuses the port the web server has on IPv4.
    Bytes v6 = {0x05, 0x01, 0x00, 0x04};
    v6.resize(19, 0);
    v6.push_back(1);
    v6.push_back(static_cast<uint8_t>(m_Web.Port() >> 8));
    v6.push_back(static_cast<uint8_t>(m_Web.Port()));
    const uint8_t v6Reply = ReplyCode(proxy, v6);
    EXPECT_TRUE(v6Reply == 0x05 || v6Reply == 0x03 || v6Reply == 0x01) << int(v6Reply);
}

TEST_F(ProxyHandshakeTest, MalformedOrTruncatedInputClosesOnlyThatConnection) {
    char path[] = "/tmp/vgl-proxy-users-XXXXXX";
    const int fd = mkstemp(path);
    const std::string line =
        "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n";
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
    ProxyProcess open;
    ProxyProcess guarded({"--users", path});
    ASSERT_TRUE(open.Started() && guarded.Started()) << open.Log() << guarded.Log();

    // A connection that is relaying all along, and must stay untouched.
    RawClient busy = Client(open);
    ASSERT_TRUE(busy.Send(Concat(Greeting, ConnectRequest(m_WebHost, m_Web.Port()))));
    ASSERT_EQ(busy.Read(12).size(), 12u);

    const std::string name256(256, 'a');
    const struct {
        const ProxyProcess& m_Proxy;
        Bytes m_Bytes;
        size_t m_Answer;  // bytes the proxy sends before it closes
    } cases[] = {
        {open, {0x04, 0x01, 0x00}, 0},                               // wrong version
        {open, {0x05, 0x00}, 0},                                     // no methods
        {open, {0x05, 0x03, 0x00}, 0},                               // methods cut short
        {open, Concat(Greeting, {0x04, 0x01, 0x00, 0x01}), 2},       // request of version 4
        {open, Concat(Greeting, {0x05, 0x01, 0x00, 0x03, 0}), 2},    // empty name
        {open, Concat(Greeting, {0x05, 0x01, 0x00, 0x01, 127}), 2},  // address cut short
        {open, Concat(Greeting, {0x05, 0x01}), 2},                   // request cut short
        {guarded, {0x05, 0x01, 0x02, 0x01, 0x00}, 2},                // user name of 0 bytes
        {guarded, Concat({0x05, 0x01, 0x02, 0x01, 0x00}, Bytes(name256.begin(), name256.end())),
         4},  // 256 bytes: length 0, read to its end and refused with status 0x01
        {guarded, {0x05, 0x01, 0x02, 0x02, 0x01, 'a', 0x01, 'b'}, 2},  // sub-version 2
        {guarded, {0x05, 0x01, 0x02, 0x01, 0x05, 'a', 'l'}, 2},        // name cut short
    };
    for (const auto& c : cases) {
        RawClient client = Client(c.m_Proxy);
        client.Send(c.m_Bytes);
        client.ShutdownSend();
        EXPECT_EQ(client.Read(c.m_Answer + 1).size(), c.m_Answer);
        EXPECT_TRUE(client.Closed());
    }
    ASSERT_TRUE(busy.Send(HttpGet(50)));
    EXPECT_EQ(busy.Read(LocalHttpServer::ReplyBytes(50) + 1).size(),
              LocalHttpServer::ReplyBytes(50));
    EXPECT_TRUE(busy.Closed());
    ExpectServed(open);
    std::remove(path);
}

// One byte at a time, with whole exchanges of other clients in between: the
// slow client holds up nobody and still gets its answers.
TEST_F(ProxyHandshakeTest, AClientSendingOneByteAtATimeHoldsUpNobody) {
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient slow = Client(proxy);
    const Bytes request = Concat(Greeting, ConnectRequest(m_WebHost, m_Web.Port()));
    for (size_t i = 0; i < request.size(); ++i) {
        ASSERT_TRUE(slow.Send({request[i]}));
        if (i == Greeting.size() - 1) {
            EXPECT_EQ(slow.Read(2), Chosen);
        }
        RawClient other = Client(proxy);
        ASSERT_TRUE(other.Send(Greeting));
        EXPECT_EQ(other.Read(2), Chosen);
    }
    const Bytes reply = slow.Read(10);
    ASSERT_EQ(reply.size(), 10u);
    EXPECT_EQ(reply[1], 0x00);
    for (uint8_t byte : HttpGet(10)) ASSERT_TRUE(slow.Send({byte}));
    EXPECT_EQ(slow.Read(LocalHttpServer::ReplyBytes(10)).size(), LocalHttpServer::ReplyBytes(10));
}

// A client that sends its first bytes with the request, before the reply:
// they reach the destination ahead of the rest and count as sent.
TEST_F(ProxyHandshakeTest, BytesSentWithTheRequestReachTheDestination) {
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient client = Client(proxy);
    const Bytes get = HttpGet(100);
    ASSERT_TRUE(
        client.Send(Concat(Concat(Greeting, ConnectRequest(m_WebHost, m_Web.Port())), get)));
    ASSERT_EQ(client.Read(2), Chosen);
    ASSERT_EQ(client.Read(10).size(), 10u);
    EXPECT_EQ(client.Read(LocalHttpServer::ReplyBytes(100) + 1).size(),
              LocalHttpServer::ReplyBytes(100));
    client.ShutdownSend();
    EXPECT_TRUE(proxy.WaitForLog(" out=" + std::to_string(get.size()) + " time="));
}

// Only the expiry is waited for: nothing has to happen before the deadline.
TEST_F(ProxyHandshakeTest, AClientThatStopsHalfwayIsClosedAfterTheIdleTimeOut) {
    ProxyProcess proxy({"--idle-timeout", "1"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient halfway = Client(proxy);
    ASSERT_TRUE(halfway.Send({0x05, 0x01}));
    EXPECT_TRUE(halfway.Closed());
    EXPECT_TRUE(proxy.WaitForLog("result=\"handshake time-out\""));
}

// Silent handshakes from many addresses fill the handshake budget; a client
// from a new address takes the place of the oldest handshake of the address
// holding the most, and is served. Established connections have a limit of
// their own, past which new clients are closed at once.
TEST_F(ProxyHandshakeTest, SilentHandshakesOfManyAddressesNeverLockOutANewClient) {
    ProxyProcess proxy(
        {"--max-handshakes", "100", "--max-connections", "4", "--handshake-timeout", "60"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    std::vector<RawClient> silent;  // the first 8 of one address (its limit), then one each
    for (int i = 0; i < 100; ++i) {
        silent.emplace_back(proxy.Host(), ProxyProcess::Port,
                            i < 8 ? "127.0.1.1" : "127.0.2." + std::to_string(i));
        ASSERT_TRUE(silent.back().Connected());
    }
    RawClient good(proxy.Host(), ProxyProcess::Port, "127.0.3.1");
    ASSERT_TRUE(good.Send(Concat(Greeting, ConnectRequest(m_WebHost, m_Web.Port()))));
    ASSERT_EQ(good.Read(12).size(), 12u);
    ASSERT_TRUE(good.Send(HttpGet(100)));
    EXPECT_EQ(good.Read(LocalHttpServer::ReplyBytes(100)).size(), LocalHttpServer::ReplyBytes(100));
    EXPECT_TRUE(silent[0].Closed());
    for (size_t i = 1; i < silent.size(); ++i) EXPECT_FALSE(silent[i].Closed(0)) << i;
    EXPECT_TRUE(proxy.WaitForLog("result=\"dropped: handshakes of all clients at their limit"));

    // With the good client, four are established.
    std::vector<RawClient> relaying;
    for (int i = 0; i < 3; ++i) {
        relaying.emplace_back(proxy.Host(), ProxyProcess::Port, "127.0.4." + std::to_string(i + 1));
        ASSERT_TRUE(
            relaying.back().Send(Concat(Greeting, ConnectRequest(m_WebHost, m_Web.Port()))));
        ASSERT_EQ(relaying.back().Read(12).size(), 12u);
    }
    RawClient fourth(proxy.Host(), ProxyProcess::Port, "127.0.4.9");
    fourth.Send(Greeting);
    EXPECT_TRUE(fourth.Read(2).empty());
    EXPECT_TRUE(proxy.WaitForLog("4 connections already open (--max-connections)"));
}

TEST_F(ProxyHandshakeTest, ClientsAndMonitorClientsOutsideTheirBlocksAreClosed) {
    ProxyProcess proxy({"--allow", "127.0.0.1/32", "--allow", "127.0.0.3", "--monitor-allow",
                        "127.0.0.3/32", "--max-monitor-clients", "1"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient stranger(proxy.Host(), ProxyProcess::Port, "127.0.0.2");
    stranger.Send(Greeting);
    EXPECT_TRUE(stranger.Read(2).empty());
    EXPECT_TRUE(proxy.WaitForLog("127.0.0.2:"));
    EXPECT_NE(proxy.Log().find("refused: not in --allow"), std::string::npos);
    RawClient friendly(proxy.Host(), ProxyProcess::Port, "127.0.0.3");
    friendly.Send(Greeting);
    EXPECT_EQ(friendly.Read(2), Chosen);

    const Bytes request = {0x00, 0x01, 0x00};
    RawClient snooper(proxy.Host(), 5051, "127.0.0.1");
    snooper.Send(request);
    EXPECT_TRUE(snooper.Read(2).empty());
    RawClient watcher(proxy.Host(), 5051, "127.0.0.3");
    watcher.Send(request);
    EXPECT_EQ(watcher.Read(2).size(), 2u);  // the open of the friendly client, first
    RawClient second(proxy.Host(), 5051, "127.0.0.3");
    second.Send(request);
    EXPECT_TRUE(second.Read(2).empty());
    EXPECT_TRUE(proxy.WaitForLog("1 monitor clients already connected"));
}

}  // namespace
