// The ssh route through the system's ssh client, against a real sshd and the
// fake monitor; fake "ssh" programs only where ssh itself cannot be made to
// misbehave.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonSshTunnel.h"
#include "core/monitor/MonStream.h"
#include "core/monitor/MonTcp.h"
#include "core/monitor/MonTls.h"
#include "support/FakeMonitor.h"
#include "support/SshServer.h"
#include "support/TempFolder.h"

namespace {

constexpr int StartMs = 20000;

// A folder for the test's own scripts, gone with the object.
struct ScratchDir {
    std::string Script(const std::string& name, const std::string& body) const {
        const std::string path = m_Folder.File(name);
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0700);
        return path;
    }
    std::string File(const std::string& name) const { return m_Folder.File(name); }
    TempFolder m_Folder;
};

MonHostForm SshForm(const std::string& sshHost, uint16_t sshPort, const std::string& monitorHost) {
    MonHostForm form;
    form.m_Route = MonRoute::Ssh;
    form.m_SshHost = sshHost;
    form.m_SshPort = sshPort;
    form.m_Host = monitorHost;
    form.m_Port = FakeMonitor::Port;
    return form;
}

MonSocket ConnectLocal(uint16_t port) {
    int32_t code = 0;
    char text[128] = "";
    return Mon_TcpConnect("127.0.0.1", port, &code, text);
}

class MonSshTunnelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_Server.IsUp()) {
            GTEST_SKIP() << m_Server.Failure();
        }
    }
    void TearDown() override { MonSshTunnel::SetProgram("ssh"); }

    // A running tunnel through the real sshd to the fake monitor.
    void StartTunnel(SshServer::Key key = SshServer::Key::Authorized) {
        StartTunnel(m_Server.ClientProgram(key));
    }
    void StartTunnel(const std::string& program) {
        MonSshTunnel::SetProgram(program);
        MonHostForm form = SshForm(m_Server.Host(), m_Server.Port(), m_Monitor.Host());
        form.m_SshUser = m_Server.User();
        m_bStarted = m_Tunnel.Start(form, StartMs, m_Error);
    }

    SshServer m_Server;
    FakeMonitor m_Monitor;
    MonSshTunnel m_Tunnel;
    std::string m_Error;
    bool m_bStarted = false;
};

TEST_F(MonSshTunnelTest, CarriesAMonitorBatchEndToEnd) {
    StartTunnel();
    ASSERT_TRUE(m_bStarted) << m_Error << "\nsshd: " << m_Server.Log();
    EXPECT_TRUE(m_Tunnel.IsRunning());
    const MonBytes open = EncodeOpen(1, 2, 0, 1700000000, "alice", EncodeSockAddr(0x7f000001), "");
    const MonBytes close = EncodeClose(1, 2);
    m_Monitor.QueueBatch({open, close});

    const MonSocket s = ConnectLocal(m_Tunnel.LocalPort());
    ASSERT_GE(s, 0);
    int32_t code = 0;
    char text[128] = "";
    const uint8_t request = 0x00;
    ASSERT_EQ(Mon_TcpSend(s, 1, &request, &code, text), 1) << text;
    for (const MonBytes& expected : {open, close, MonBytes{}}) {
        uint8_t body[1024];
        const int32_t got = Mon_TcpRecv(s, sizeof body, body, &code, text);
        ASSERT_EQ(got, static_cast<int32_t>(expected.size())) << text;
        EXPECT_EQ(MonBytes(body, body + got), expected);
    }
    Mon_TcpClose(s, &code, text);
    EXPECT_EQ(m_Monitor.Requests(), std::vector<MonBytes>{MonBytes({0x00, 0x01, 0x00})});
}

// A whole session by its ssh:// form: the tunnel comes up inside Mon_Open, the
// link says it is tunnelled, records arrive, and closing the session ends ssh.
TEST_F(MonSshTunnelTest, SessionBySshFormReadsRecordsAndEndsItsTunnel) {
    MonSshTunnel::SetProgram(m_Server.ClientProgram());
    m_Monitor.QueueBatch({EncodeOpen(3, 4, 0, 1700000000, "bob", EncodeSockAddr(0x7f000001), "")});
    MonitorConnection* connection = nullptr;
    const std::string form = m_Server.HostForm(m_Monitor.Host(), FakeMonitor::Port);
    ASSERT_EQ(Mon_Open(form.c_str(), &connection), 0) << connection->m_LastErrorText;
    EXPECT_TRUE(Mon_TcpLinkInfo(connection->m_Socket).m_bTunnel);
    MonitorRecord record{};
    ASSERT_EQ(Mon_Read(connection, &record), 1) << connection->m_LastErrorText;
    EXPECT_STREQ(record.m_UserName, "bob");
    EXPECT_EQ(Mon_Read(connection, &record), 0);  // the empty message
    Mon_Close(connection);
    EXPECT_EQ(
        system(("! pgrep -f -- '127.0.0.1:[0-9]+:" + m_Monitor.Host() + ":' >/dev/null").c_str()),
        0)
        << "ssh outlived its session";
}

TEST_F(MonSshTunnelTest, ARefusedKeyGivesSshsOwnLastLine) {
    StartTunnel(SshServer::Key::Stranger);
    EXPECT_FALSE(m_bStarted);
    EXPECT_EQ(m_Error.rfind("ssh: ", 0), 0u) << m_Error;
    EXPECT_NE(m_Error.find("Permission denied (publickey)"), std::string::npos) << m_Error;
    EXPECT_FALSE(m_Tunnel.IsRunning());
}

TEST_F(MonSshTunnelTest, AnUnknownHostKeyTellsWhereToAcceptIt) {
    ScratchDir dir;
    StartTunnel(dir.Script("ssh", "exec " + m_Server.ClientProgram() +
                                      " -o StrictHostKeyChecking=yes"
                                      " -o UserKnownHostsFile=/dev/null \"$@\""));
    EXPECT_FALSE(m_bStarted);
    EXPECT_EQ(m_Error,
              "ssh: Host key verification failed. Accept the host's key by running ssh to it once "
              "in a terminal.");
}

TEST_F(MonSshTunnelTest, StopEndsSshAndItsForward) {
    StartTunnel();
    ASSERT_TRUE(m_bStarted) << m_Error;
    const uint16_t port = m_Tunnel.LocalPort();
    m_Tunnel.Stop();
    EXPECT_FALSE(m_Tunnel.IsRunning());
    EXPECT_EQ(m_Tunnel.LocalPort(), 0);
    EXPECT_LT(ConnectLocal(port), 0);
}

TEST(MonSshTunnelFailures, AnUnreachableServerGivesSshsMessageOnce) {
    // A bound socket that does not listen: connects to it are refused.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(0x7f000001);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const uint16_t port = ntohs(addr.sin_port);
    ScratchDir dir;
    MonSshTunnel::SetProgram(dir.Script("ssh", "exec ssh -F /dev/null \"$@\""));

    MonSshTunnel tunnel;
    std::string error;
    EXPECT_FALSE(tunnel.Start(SshForm("127.0.0.1", port, "127.0.0.1"), StartMs, error));
    EXPECT_EQ(error, "ssh: connect to host 127.0.0.1 port " + std::to_string(port) +
                         ": Connection refused");
    ::close(fd);
    MonSshTunnel::SetProgram("ssh");
}

TEST(MonSshTunnelFailures, NamesSshWouldReadAsOptionsAreRefused) {
    ScratchDir dir;
    const std::string ran = dir.File("ran");
    MonSshTunnel::SetProgram(dir.Script("ssh", "touch " + ran));
    const std::string injected = "-oProxyCommand=touch " + ran;
    MonHostForm viaHost = SshForm(injected, 0, "127.0.0.1");
    MonHostForm viaUser = SshForm("example", 0, "127.0.0.1");
    viaUser.m_SshUser = "-oProxyCommand=x";
    for (const MonHostForm& form : {viaHost, viaUser}) {
        MonSshTunnel tunnel;
        std::string error;
        EXPECT_FALSE(tunnel.Start(form, StartMs, error));
        EXPECT_NE(error.find("begins with '-'"), std::string::npos) << error;
    }
    EXPECT_FALSE(std::filesystem::exists(ran));
    MonSshTunnel::SetProgram("ssh");
}

TEST(MonSshTunnelFailures, ATimeOutEndsAnSshThatNeverForwards) {
    ScratchDir dir;
    const std::string pidFile = dir.File("pid");
    MonSshTunnel::SetProgram(dir.Script("ssh", "echo $$ > " + pidFile + "; exec sleep 600"));
    MonSshTunnel tunnel;
    std::string error;
    EXPECT_FALSE(tunnel.Start(SshForm("example", 0, "127.0.0.1"), 1000, error));
    EXPECT_EQ(error.rfind("ssh: no tunnel to example within 1 s", 0), 0u) << error;
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, 0), -1);  // ended and reaped, not a zombie
    EXPECT_EQ(errno, ESRCH);
    MonSshTunnel::SetProgram("ssh");
}

TEST(MonSshTunnelFailures, AConnectGivenUpEndsTheWaitForTheTunnel) {
    ScratchDir dir;
    MonSshTunnel::SetProgram(dir.Script("ssh", "exec sleep 600"));
    Mon_TcpWatchConnects([](MonSocket) { return false; });  // the session was cancelled
    MonSshTunnel tunnel;
    std::string error;
    EXPECT_FALSE(tunnel.Start(SshForm("example", 0, "127.0.0.1"), 600000, error));
    EXPECT_EQ(error, "ssh: the connect was given up before the tunnel was ready");
    Mon_TcpWatchConnects(nullptr);
    MonSshTunnel::SetProgram("ssh");
}

}  // namespace
