// What one address can do to everyone else: slow handshakes past its limits,
// names whose name server never answers, a flood of wrong passwords. Each
// costs only that address (and lookups only their own pool).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "ProxyHarness.h"

namespace {
// Named too: the test files are compiled as one.
namespace limits_test {

const Bytes Greeting = {0x05, 0x01, 0x00};
const Bytes PasswordGreeting = {0x05, 0x01, 0x02};
// alice's password is "secret" (made by mkpasswd -m yescrypt).
constexpr char AliceLine[] =
    "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n";

Bytes Concat(Bytes a, const Bytes& b) {
    for (const uint8_t byte : b) a.push_back(byte);
    return a;
}

bool NothingToRead(const RawClient& client) {
    pollfd fd{client.Fd(), POLLIN, 0};
    return poll(&fd, 1, 0) == 0;
}

TEST(ProxyLimitsTest, SlowClientsOfOneAddressLockOutOnlyThatAddress) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    ProxyProcess proxy({"--max-per-client", "10"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    // Eight handshakes in progress from one address (one byte each), then more of them.
    std::vector<RawClient> slow;
    for (int i = 0; i < 8; ++i) {
        slow.emplace_back(proxy.Host(), ProxyProcess::Port, "127.0.0.2");
        ASSERT_TRUE(slow.back().Send({0x05}));
    }
    for (int i = 0; i < 5; ++i) {
        RawClient more(proxy.Host(), ProxyProcess::Port, "127.0.0.2");
        more.Send(Greeting);
        EXPECT_TRUE(more.Closed());
        EXPECT_TRUE(more.Read(2).empty());
    }
    // Another address is served at once, relaying included.
    RawClient other(proxy.Host(), ProxyProcess::Port, "127.0.0.3");
    ASSERT_TRUE(other.Send(Concat(Greeting, ConnectRequest(webHost, web.Port()))));
    EXPECT_EQ(other.Read(12).size(), 12u);
    // Refusals of one address are logged once, not once each.
    const std::string refusal = "handshakes from this address in progress";
    EXPECT_TRUE(proxy.WaitForLog(refusal));
    const std::string log = proxy.Log();
    EXPECT_EQ(log.find(refusal), log.rfind(refusal)) << log;

    // Past the connections per address, relaying ones counted.
    std::vector<RawClient> relaying;
    for (int i = 0; i < 10; ++i) {
        relaying.emplace_back(proxy.Host(), ProxyProcess::Port, "127.0.0.4");
        ASSERT_TRUE(relaying.back().Send(Concat(Greeting, ConnectRequest(webHost, web.Port()))));
        ASSERT_EQ(relaying.back().Read(12).size(), 12u);
    }
    RawClient eleventh(proxy.Host(), ProxyProcess::Port, "127.0.0.4");
    eleventh.Send(Greeting);
    EXPECT_TRUE(eleventh.Read(2).empty());
    EXPECT_TRUE(proxy.WaitForLog("10 connections from this address already open"));

    // The handshake has a time-out of its own, far shorter than the idle one.
    ProxyProcess quick({"--handshake-timeout", "1"});
    ASSERT_TRUE(quick.Started()) << quick.Log();
    RawClient halfway(quick.Host(), ProxyProcess::Port);
    ASSERT_TRUE(halfway.Send({0x05}));
    EXPECT_TRUE(halfway.Closed());
    EXPECT_TRUE(quick.WaitForLog("result=\"handshake time-out\""));
}

// A thousand refusals of one client: one line at once, then one with the
// count, which the stop writes out (as the minute would).
TEST(ProxyLimitsTest, RefusalsOfOneClientAreCountedNotLoggedEachOne) {
    ProxyProcess proxy({"--allow", "127.0.0.1/32"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    for (int i = 0; i < 1000; ++i) {
        RawClient refused(proxy.Host(), ProxyProcess::Port, "127.0.0.2");
        ASSERT_TRUE(refused.Closed());
    }
    EXPECT_EQ(proxy.Stop(), 0);
    ASSERT_TRUE(proxy.WaitForLog("stopped"));
    const std::string log = proxy.Log();
    const std::string line = " refused: not in --allow";
    size_t lines = 0, counted = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
        ++lines;
        const size_t count = log.find(" (", at);
        if (count < log.find('\n', at)) counted += std::stoul(log.substr(count + 2));
    }
    EXPECT_LE(lines, 3u) << log;  // the first, and a count per minute passed and at the stop
    EXPECT_EQ(counted, 999u) << log;
}

// A private resolver configuration and hosts file (in a mount namespace of
// the proxy's own): the name server, on loopback, never answers; the hosts
// file names `hostsLine`.
class SilentResolver {
public:
    explicit SilentResolver(const std::string& hostsLine = "")
        : m_Server(RandomLoopbackHost()), m_Socket(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in address = LoopbackAddress(m_Server, 53);
        m_bBound = bind(m_Socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        m_Resolver = WriteFile("nameserver " + m_Server + "\noptions timeout:30 attempts:1\n");
        m_Hosts = WriteFile("127.0.0.1 localhost\n" + hostsLine + "\n");
    }
    ~SilentResolver() {
        close(m_Socket);
        std::remove(m_Resolver.c_str());
        std::remove(m_Hosts.c_str());
    }
    bool Bound() const { return m_bBound; }
    std::vector<std::string> Wrapper() const {
        const char* mount =
            "mount --bind \"$0\" /etc/resolv.conf && mount --bind \"$1\" /etc/hosts && shift && "
            "exec \"$@\"";
        return {"/usr/bin/unshare", "-m", "/bin/sh", "-c", mount, m_Resolver, m_Hosts};
    }

private:
    std::string m_Server;
    int m_Socket;
    bool m_bBound = false;
    std::string m_Resolver, m_Hosts;
};

TEST(ProxyLimitsTest, LoginsStayPromptWhileLookupsHangAndAnotherAddressGuesses) {
    const SilentResolver resolver;
    ASSERT_TRUE(resolver.Bound());
    const std::string users = WriteFile(AliceLine);
    const std::string host = RandomLoopbackHost();
    ProxyProcess proxy(
        {"--users", users, "--connect-timeout", "12", "--max-handshakes-per-client", "100"},
        resolver.Wrapper(), host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const auto loggedIn = [&](const std::string& source, const std::string& password) {
        RawClient client(host, ProxyProcess::Port, source);
        client.Send(PasswordGreeting);
        client.Read(2);
        client.Send(Login("alice", password));
        return client;
    };

    // Wrong passwords from one address: each makes its next one wait longer.
    for (int i = 0; i < 4; ++i) {
        RawClient guess = loggedIn("127.0.0.3", "guess");
        EXPECT_EQ(guess.Read(2), (Bytes{0x01, 0x01}));
    }
    // 24 names whose lookups never end, from another; each client sends its
    // whole handshake at once, so that all of them are in flight together.
    std::vector<RawClient> hanging;
    for (int i = 0; i < 24; ++i) {
        hanging.emplace_back(host, ProxyProcess::Port, "127.0.0.2");
        ASSERT_TRUE(hanging.back().Send(
            Concat(Concat(PasswordGreeting, Login("alice", "secret")),
                   ConnectByName("host" + std::to_string(i) + ".silent.example", 80))));
    }
    for (RawClient& client : hanging) {
        ASSERT_EQ(client.Read(4), (Bytes{0x05, 0x02, 0x01, 0x00}));
    }
    RawClient guessing = loggedIn("127.0.0.3", "guess");
    // A login from elsewhere is answered while all of that goes on.
    RawClient user = loggedIn("127.0.0.4", "secret");
    EXPECT_EQ(user.Read(2), (Bytes{0x01, 0x00}));
    EXPECT_TRUE(NothingToRead(guessing));
    for (RawClient& client : hanging) EXPECT_TRUE(NothingToRead(client));
    // Each hanging lookup ends with TTL expired, within the connect time-out.
    for (RawClient& client : hanging) {
        const Bytes reply = client.Read(10, 20000);
        ASSERT_EQ(reply.size(), 10u);
        EXPECT_EQ(reply[1], 0x06);
    }
    EXPECT_EQ(guessing.Read(2), (Bytes{0x01, 0x01}));
    std::remove(users.c_str());
}

// More hanging lookups from one address than there are lookup threads (32):
// a client elsewhere still reaches a name of the hosts file, and an address.
TEST(ProxyLimitsTest, NamesThatNeverResolveHoldUpOnlyTheirOwnAddress) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    const SilentResolver resolver(webHost + " good.example");
    ASSERT_TRUE(resolver.Bound());
    const std::string host = RandomLoopbackHost();
    ProxyProcess proxy({"--connect-timeout", "10", "--max-handshakes-per-client", "100"},
                       resolver.Wrapper(), host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    std::vector<RawClient> hanging;
    for (int i = 0; i < 40; ++i) {
        hanging.emplace_back(host, ProxyProcess::Port, "127.0.0.2");
        ASSERT_TRUE(hanging.back().Send(
            Concat(Greeting, ConnectByName("host" + std::to_string(i) + ".silent.example", 80))));
    }
    for (RawClient& client : hanging) ASSERT_EQ(client.Read(2), (Bytes{0x05, 0x00}));
    for (const Bytes& request :
         {ConnectByName("good.example", web.Port()), ConnectRequest(webHost, web.Port())}) {
        RawClient good(host, ProxyProcess::Port, "127.0.0.3");
        ASSERT_TRUE(good.Send(Concat(Greeting, request)));
        const Bytes reply = good.Read(12);
        ASSERT_EQ(reply.size(), 12u) << proxy.Log();
        EXPECT_EQ(reply[3], 0x00) << proxy.Log();
    }
    for (RawClient& client : hanging) EXPECT_TRUE(NothingToRead(client));
}

// Wrong passwords from six addresses at once, six each, all queued before a
// good login from a seventh: that one waits for a check of each address at
// most, not for all of them. (alice's hash is a costlier one here, so that
// all the flood is queued before its first check ends.)
TEST(ProxyLimitsTest, LoginFloodsFromManyAddressesQueueBehindEachOther) {
    const std::string users = WriteFile(
        "alice:$y$jAT$cEvX2YpbrW3N5ohLHdfz91$xd3V7IuhItRm8HSrOOf.e4Mgu6QKdpskl8fBXBEzil0\n");
    ProxyProcess proxy({"--users", users});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    std::vector<RawClient> flood;
    for (int address = 10; address < 16; ++address) {
        for (int i = 0; i < 6; ++i) {
            flood.emplace_back(proxy.Host(), ProxyProcess::Port,
                               "127.0.0." + std::to_string(address));
            ASSERT_TRUE(flood.back().Send(Concat(PasswordGreeting, Login("alice", "guess"))));
        }
    }
    for (RawClient& client : flood) ASSERT_EQ(client.Read(2), (Bytes{0x05, 0x02}));
    RawClient user(proxy.Host(), ProxyProcess::Port, "127.0.0.20");
    ASSERT_TRUE(user.Send(PasswordGreeting));
    ASSERT_EQ(user.Read(2), (Bytes{0x05, 0x02}));
    ASSERT_TRUE(user.Send(Login("alice", "secret")));
    EXPECT_EQ(user.Read(2), (Bytes{0x01, 0x00}));
    const size_t unanswered = static_cast<size_t>(std::count_if(
        flood.begin(), flood.end(), [](const RawClient& c) { return NothingToRead(c); }));
    EXPECT_GE(unanswered, flood.size() / 2);
    for (RawClient& client : flood) EXPECT_EQ(client.Read(2), (Bytes{0x01, 0x01}));
    std::remove(users.c_str());
}

// The throttle's wait never takes the whole handshake time: a right password
// from a throttled address is still answered under a short time-out.
TEST(ProxyLimitsTest, AThrottledAddressStillLogsInUnderAShortHandshakeTimeOut) {
    const std::string users = WriteFile(AliceLine);
    ProxyProcess proxy({"--users", users, "--handshake-timeout", "2"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    // Five wrong passwords at once: the next one would wait 4 s.
    std::vector<RawClient> guesses;
    for (int i = 0; i < 5; ++i) {
        guesses.emplace_back(proxy.Host(), ProxyProcess::Port, "127.0.0.5");
        ASSERT_TRUE(guesses.back().Send(Concat(PasswordGreeting, Login("alice", "guess"))));
    }
    for (RawClient& guess : guesses) EXPECT_EQ(guess.Read(4), (Bytes{0x05, 0x02, 0x01, 0x01}));
    RawClient user(proxy.Host(), ProxyProcess::Port, "127.0.0.5");
    ASSERT_TRUE(user.Send(Concat(PasswordGreeting, Login("alice", "secret"))));
    EXPECT_EQ(user.Read(4), (Bytes{0x05, 0x02, 0x01, 0x00})) << proxy.Log();
    std::remove(users.c_str());
}

}  // namespace limits_test
}  // namespace
