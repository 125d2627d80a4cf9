// curl through the real vgl-proxy to a local HTTP server, watched through
// VGL's own connection table polling the proxy's monitor.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "ProxyHarness.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"

namespace {

enum Column { Source = 0, Destination = 1, User = 2, Service = 3, In = 6, Out = 7, Auth = 9 };

// alice's password is "secret" (made by mkpasswd -m yescrypt).
constexpr char AliceLine[] =
    "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n";

std::string WriteUsersFile(const std::string& content) {
    char path[] = "/tmp/vgl-proxy-users-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) {
        if (write(fd, content.data(), content.size()) < 0) path[0] = '\0';
        close(fd);
    }
    return path;
}

// The URL of a body of `size` bytes from `server` on `host`.
std::string Url(const std::string& host, const LocalHttpServer& server, size_t size) {
    return "http://" + host + ":" + std::to_string(server.Port()) + "/" + std::to_string(size);
}

uint16_t ClosedPort(const std::string& host) {
    LocalHttpServer probe(host, 0);
    return probe.Port();  // free again once the probe is gone
}

class ProxyCurlTest : public ::testing::Test {
protected:
    // The web server's port 1525 makes the monitor name the service "archie".
    ProxyCurlTest() : m_WebHost(RandomLoopbackHost()), m_Web(m_WebHost, 1525) {}

    // Polls after the proxy has logged `finished` connections, so the table
    // sees their close in the same batch.
    void PollAfter(const ProxyProcess& proxy, size_t finished) {
        ASSERT_TRUE(proxy.WaitForLog(" time=", finished)) << proxy.Log();
        ASSERT_GE(m_Table.Poll(), 0);
    }
    std::string Cell(int row, int column) const { return m_Table.GetCellText(row, column); }

    std::string m_WebHost;
    LocalHttpServer m_Web;
    PMCTable m_Table;
};

// The graph's per-service counters only count services it was told of.
void WatchArchie(PMCTable& table) {
    table.SetServices({"archie", "Others"});
}

TEST_F(ProxyCurlTest, CurlWithAndWithoutResolvingThroughTheProxyShowsInTheTable) {
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    ASSERT_NE(m_Web.Port(), 0);
    WatchArchie(m_Table);
    m_Table.CreateConnection(proxy.Host());
    ASSERT_TRUE(m_Table.IsConnected());

    const ProgramResult direct =
        RunCurl({"--socks5", proxy.Proxy(), Url(m_WebHost, m_Web, 100000)});
    ASSERT_EQ(direct.m_Status, 0) << direct.m_Err;
    EXPECT_EQ(direct.m_Out, LocalHttpServer::Body(100000));
    const size_t firstRequest = m_Web.LastRequestBytes();

    LocalHttpServer local("127.0.0.1", 0);
    const ProgramResult named =
        RunCurl({"--socks5-hostname", proxy.Proxy(), Url("localhost", local, 3000)});
    ASSERT_EQ(named.m_Status, 0) << named.m_Err;
    EXPECT_EQ(named.m_Out, LocalHttpServer::Body(3000));

    PollAfter(proxy, 2);
    ASSERT_EQ(m_Table.DisplayCount(), 2u);
    EXPECT_EQ(Cell(1, Source), "127.0.0.1");
    EXPECT_EQ(Cell(1, Destination), m_WebHost);
    EXPECT_EQ(Cell(1, Service), "archie");
    EXPECT_EQ(Cell(1, User), "");
    EXPECT_EQ(Cell(1, In), std::to_string(LocalHttpServer::ReplyBytes(100000)));
    EXPECT_EQ(Cell(1, Out), std::to_string(firstRequest));
    EXPECT_EQ(Cell(1, Auth), "No authentication");
    EXPECT_EQ(Cell(2, Destination), "localhost");
    EXPECT_EQ(Cell(2, In), std::to_string(LocalHttpServer::ReplyBytes(3000)));
    EXPECT_EQ(Cell(2, Out), std::to_string(local.LastRequestBytes()));
    // The name was resolved by the proxy; the address it reached comes along.
    const uint8_t* resolved = m_Table.DisplayEntry(2)->m_Dest.m_Bytes;
    EXPECT_EQ(Bytes(resolved, resolved + 4), (Bytes{127, 0, 0, 1}));
    EXPECT_EQ(m_Table.ServiceTraffic("archie"), LocalHttpServer::ReplyBytes(100000) + firstRequest);
}

TEST_F(ProxyCurlTest, PasswordsAreCheckedAndTheUserShows) {
    // bob's entry is locked: his hash would take "secret" too.
    const std::string users = WriteUsersFile(std::string("# who may use the proxy\n") + AliceLine +
                                             "bob:!" + std::string(AliceLine).substr(6));
    ProxyProcess proxy({"--users", users});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    m_Table.CreateConnection(proxy.Host());
    ASSERT_GE(m_Table.Poll(), 0);  // the monitor collects for the table from here on

    const ProgramResult right = RunCurl(
        {"--socks5", proxy.Proxy(), "--proxy-user", "alice:secret", Url(m_WebHost, m_Web, 500)});
    ASSERT_EQ(right.m_Status, 0) << right.m_Err;
    EXPECT_EQ(right.m_Out, LocalHttpServer::Body(500));
    const ProgramResult wrong = RunCurl({"--socks5-hostname", proxy.Proxy(), "--proxy-user",
                                         "alice:guess", Url(m_WebHost, m_Web, 500)});
    EXPECT_NE(wrong.m_Status, 0);
    const ProgramResult none = RunCurl({"--socks5", proxy.Proxy(), Url(m_WebHost, m_Web, 500)});
    EXPECT_NE(none.m_Status, 0);

    // RFC 1929: a wrong password gets status 0x01, then the connection closes.
    RawClient client(proxy.Host(), ProxyProcess::Port);
    ASSERT_TRUE(client.Send({0x05, 0x01, 0x02}));
    EXPECT_EQ(client.Read(2), (Bytes{0x05, 0x02}));
    ASSERT_TRUE(client.Send({0x01, 5, 'a', 'l', 'i', 'c', 'e', 5, 'g', 'u', 'e', 's', 's'}));
    EXPECT_EQ(client.Read(2), (Bytes{0x01, 0x01}));
    EXPECT_TRUE(client.Closed());

    EXPECT_TRUE(proxy.WaitForLog(":3: \"bob\" is locked"));
    RawClient bob(proxy.Host(), ProxyProcess::Port);
    ASSERT_TRUE(
        bob.Send({0x05, 0x01, 0x02, 0x01, 3, 'b', 'o', 'b', 6, 's', 'e', 'c', 'r', 'e', 't'}));
    EXPECT_EQ(bob.Read(4), (Bytes{0x05, 0x02, 0x01, 0x01}));
    // A name that tries to write fields and bytes of its own into the log line.
    RawClient forger(proxy.Host(), ProxyProcess::Port);
    ASSERT_TRUE(
        forger.Send({0x05, 0x01, 0x02, 0x01, 7, 'x', '"', ' ', 'a', '=', '1', 0xFF, 1, 'p'}));
    EXPECT_EQ(forger.Read(4), (Bytes{0x05, 0x02, 0x01, 0x01}));

    // The authenticated connection is listed; each failed login is a failed entry.
    PollAfter(proxy, 6);
    ASSERT_EQ(m_Table.DisplayCount(), 1u);
    ASSERT_EQ(m_Table.FailedCount(), 4u);
    EXPECT_EQ(Cell(1, User), "alice");
    EXPECT_EQ(Cell(1, Auth), "Username/Password");
    EXPECT_EQ(Cell(1, In), std::to_string(LocalHttpServer::ReplyBytes(500)));
    EXPECT_NE(proxy.Log().find("user=\"alice\" dest=- result=\"authentication failed\""),
              std::string::npos);
    EXPECT_NE(proxy.Log().find("user=\"x\\\" a=1\\xFF\" dest=-"), std::string::npos) << proxy.Log();
    m_Table.SetShowActive(false);
    m_Table.RelistForShow();
    const EntryObj* failed = m_Table.DisplayEntry(1);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->m_FailureCode, 0x101);
    EXPECT_EQ(failed->m_ResultText, "authentication failed");
    EXPECT_EQ(Cell(1, User), "alice");
    std::remove(users.c_str());
}

TEST_F(ProxyCurlTest, ConnectToAClosedPortIsRefusedAndReportedAsFailed) {
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    m_Table.CreateConnection(proxy.Host());
    const uint16_t closed = ClosedPort(m_WebHost);

    const ProgramResult result = RunCurl(
        {"--socks5", proxy.Proxy(), "http://" + m_WebHost + ":" + std::to_string(closed) + "/"});
    // curl names the SOCKS5 reply by its number: 5, connection refused.
    EXPECT_EQ(result.m_Status, 97);
    EXPECT_NE(result.m_Err.find("SOCKS5 connection to " + m_WebHost + ". (5)"), std::string::npos)
        << result.m_Err;

    m_Table.SetShowActive(false);
    PollAfter(proxy, 1);
    ASSERT_EQ(m_Table.FailedCount(), 1u);
    const EntryObj* failed = m_Table.DisplayEntry(1);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->m_FailureCode, 5);
    EXPECT_EQ(failed->m_ResultText, "connection refused");
    EXPECT_EQ(Cell(1, Destination), m_WebHost);
    EXPECT_NE(proxy.Log().find("result=\"connection refused\""), std::string::npos);
}

}  // namespace
