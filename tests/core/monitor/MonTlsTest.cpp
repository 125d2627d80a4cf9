// The monitor link beyond plain TCP, against a real `openssl s_server`:
// pinned identities (unknown, changed, refused in plain text), the client's
// own certificate, the oldest TLS versions refused, and the version of the
// records chosen with ALPN. The host forms and the known-monitors file too.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/monitor/MonBatch.h"
#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonKnownMonitors.h"
#include "core/monitor/MonTcpLink.h"
#include "core/monitor/MonTls.h"
#include "core/monitor/SessionWorker.h"
#include "support/FakeMonitor.h"
#include "support/OpenSslServer.h"
#include "support/TempFolder.h"

namespace montlstest {

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
}

// What the session's worker makes of a connect.
SessionWorker::Result ConnectThroughWorker(const std::string& host, const SessionLimits& limits) {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    SessionWorker worker([&] {
        std::lock_guard lock(mutex);
        done = true;
        ready.notify_all();
    });
    SessionWorker::Result result;
    result.m_Status = 1;
    if (!worker.StartConnect(host, limits)) return result;
    std::unique_lock lock(mutex);
    if (ready.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) {
        lock.unlock();
        worker.TakeResult(result);
    }
    return result;
}

class MonTlsLink : public ::testing::Test {
protected:
    void SetUp() override {
        Mon_TlsSetSettings(
            {m_Folder.File("VGL/identity.pem"), m_Folder.File("VGL/known_monitors")});
        std::string error;
        ASSERT_TRUE(Mon_MakeIdentity(ServerPem(), ServerPem(), "monitor", error)) << error;
        ASSERT_TRUE(Mon_CertificateFingerprint(ServerPem(), m_ServerFingerprint, error)) << error;
    }
    void TearDown() override { Mon_TlsSetSettings({}); }

    std::string ServerPem() const { return m_Folder.File("server.pem"); }
    void Pin(const std::string& key, const std::string& fingerprint) {
        std::string error;
        ASSERT_TRUE(
            MonKnownMonitors(Mon_TlsGetSettings().m_KnownMonitorsPath).Add(key, fingerprint, error))
            << error;
    }
    // Mon_Open's status; the connection stays open for the test when it succeeded.
    int32_t Open(const std::string& host) {
        if (m_pConnection != nullptr) Mon_Close(m_pConnection);
        const int32_t status = Mon_Open(host.c_str(), &m_pConnection);
        m_ErrorCode = m_pConnection->m_LastErrorCode;
        m_ErrorText = m_pConnection->m_LastErrorText;
        if (status != 0) {
            Mon_Close(m_pConnection);
            m_pConnection = nullptr;
        }
        return status;
    }
    ~MonTlsLink() override {
        if (m_pConnection != nullptr) Mon_Close(m_pConnection);
    }

    TempFolder m_Folder;
    std::string m_ServerFingerprint;
    MonitorConnection* m_pConnection = nullptr;
    int32_t m_ErrorCode = 0;
    std::string m_ErrorText;
};

}  // namespace montlstest

using montlstest::MonTlsLink;

TEST_F(MonTlsLink, UnknownMonitorIsAskedForThenCarriesRecordsWithTheClientsCertificate) {
    OpenSslServer server(ServerPem(), {"-alpn", "vgl-monitor/1", "-Verify", "1"});
    ASSERT_EQ(Open("tls://" + server.HostPort()), -1);
    EXPECT_EQ(m_ErrorCode, 10013);
    const MonTrustProblem problem = Mon_TlsLastProblem();
    EXPECT_EQ(problem.m_Kind, MonTrustFailure::Unknown);
    EXPECT_EQ(problem.m_MonitorKey, server.HostPort());
    EXPECT_EQ(problem.m_Presented, m_ServerFingerprint);

    Pin(problem.m_MonitorKey, problem.m_Presented);
    ASSERT_EQ(Open("TLS://" + server.HostPort()), 0) << m_ErrorText;
    const MonLinkInfo link = Mon_TcpLinkInfo(m_pConnection->m_Socket);
    EXPECT_TRUE(link.m_bEncrypted);
    EXPECT_EQ(link.m_Version, 1);
    EXPECT_EQ(link.m_Fingerprint, m_ServerFingerprint);
    EXPECT_EQ(Mon_TlsLastProblem().m_Kind, MonTrustFailure::None);

    server.Send(FrameBatch({EncodeOpen(1, 2, 0, 100, "alice", EncodeSockAddr("10.0.0.1"), "pc")}));
    MonitorRecord record{};
    ASSERT_EQ(Mon_Read(m_pConnection, &record), 1) << m_pConnection->m_LastErrorText;
    EXPECT_STREQ(record.m_UserName, "alice");
    EXPECT_EQ(Mon_Read(m_pConnection, &record), 0);
}

TEST_F(MonTlsLink, ChangedIdentityIsRefusedNamingBothFingerprints) {
    OpenSslServer server(ServerPem(), {});
    const std::string old = "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
    Pin(server.HostPort(), old);

    // Through the session's worker, as the program connects.
    const SessionWorker::Result result =
        montlstest::ConnectThroughWorker("tls://" + server.HostPort(), SessionLimits{});
    EXPECT_EQ(result.m_Status, -1);
    EXPECT_EQ(result.m_Trust.m_Kind, MonTrustFailure::Changed);
    EXPECT_EQ(result.m_ErrorText, "The identity of monitor " + server.HostPort() +
                                      " has changed: it was " + old + ", it is now " +
                                      m_ServerFingerprint + ". Connection refused.");
    Mon_Close(result.m_pConnection);
}

// A peer that takes the connection but never answers the handshake: the
// connect limit ends the handshake too, and its socket is closed.
TEST_F(MonTlsLink, HandshakeThatNeverEndsIsGivenUpAtTheConnectLimit) {
    FakeMonitor silent;
    const int32_t openBefore = std::atomic_ref<int32_t>(Mon_TcpOpenCount).load();
    SessionLimits limits;
    limits.m_ConnectMs = 200;
    const SessionWorker::Result result =
        montlstest::ConnectThroughWorker("tls://" + silent.Host(), limits);
    EXPECT_EQ(result.m_Status, -1);
    EXPECT_EQ(result.m_ErrorText, "WinSock error=10060 WSAETIMEDOUT - operation timed out");
    ASSERT_TRUE(silent.WaitForDisconnects(1));
    // The worker's thread closes it once the handshake has woken.
    for (int i = 0; i < 2000 && std::atomic_ref<int32_t>(Mon_TcpOpenCount).load() != openBefore;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(std::atomic_ref<int32_t>(Mon_TcpOpenCount).load(), openBefore);
}

TEST_F(MonTlsLink, MonitorPinnedForTlsIsNeverTakenInPlainText) {
    FakeMonitor monitor;
    Pin(monitor.Host() + ":5051", m_ServerFingerprint);
    ASSERT_EQ(Open(monitor.Host()), -1);
    EXPECT_EQ(m_ErrorCode, 10013);
    const MonTrustProblem problem = Mon_TlsLastProblem();
    EXPECT_EQ(problem.m_Kind, MonTrustFailure::PlainRefused);
    EXPECT_EQ(
        Mon_TrustProblemText(problem),
        "Monitor " + monitor.Host() + ":5051 was seen with TLS; it is not accepted in plain text.");
    EXPECT_EQ(monitor.ConnectionCount(), 0u);
}

TEST_F(MonTlsLink, OldTlsAndAnIdentityOthersCanReadAreRefused) {
    OpenSslServer old(ServerPem(), {"-tls1_1", "-cipher", "DEFAULT:@SECLEVEL=0"});
    Pin(old.HostPort(), m_ServerFingerprint);
    ASSERT_EQ(Open("tls://" + old.HostPort()), -1);
    MonTrustProblem problem = Mon_TlsLastProblem();
    EXPECT_EQ(problem.m_Kind, MonTrustFailure::Handshake);
    EXPECT_EQ(Mon_TrustProblemText(problem).rfind(
                  "TLS handshake with " + old.HostPort() + " failed: ", 0),
              0u)
        << Mon_TrustProblemText(problem);

    ::chmod(Mon_TlsGetSettings().m_IdentityPath.c_str(), 0644);
    OpenSslServer server(ServerPem(), {});
    ASSERT_EQ(Open("tls://" + server.HostPort()), -1);
    problem = Mon_TlsLastProblem();
    EXPECT_EQ(problem.m_Kind, MonTrustFailure::IdentityUnsafe);
    EXPECT_NE(Mon_TrustProblemText(problem).find("chmod 600"), std::string::npos);
}

// Under TLS 1.3 a monitor refuses the client's certificate only after the
// client's handshake is over: the first poll says why, naming the client.
TEST_F(MonTlsLink, MonitorThatRefusesTheClientSaysSoAtTheFirstPoll) {
    OpenSslServer server(ServerPem(), {"-tls1_3", "-Verify", "1", "-verify_return_error"});
    Pin(server.HostPort(), m_ServerFingerprint);
    ASSERT_EQ(Open("tls://" + server.HostPort()), 0) << m_ErrorText;
    MonBatch batch;
    EXPECT_EQ(Mon_ReadBatch(m_pConnection, batch, SessionLimits{}), -1);
    std::string client, error;
    ASSERT_TRUE(Mon_CertificateFingerprint(Mon_TlsGetSettings().m_IdentityPath, client, error));
    const std::string text = Mon_TlsLinkFailureText(m_pConnection->m_Socket);
    EXPECT_EQ(text.rfind("The monitor ended the TLS link: tlsv1", 0), 0u) << text;
    EXPECT_NE(text.find(client), std::string::npos) << text;
}

TEST_F(MonTlsLink, RecordVersionIsTheOneAlpnChose) {
    struct Case {
        std::vector<std::string> m_Options;
        int m_Version;
    };
    for (const Case& test : {Case{{}, 1}, Case{{"-alpn", "vgl-monitor/2"}, 2}}) {
        OpenSslServer server(ServerPem(), test.m_Options);
        Pin(server.HostPort(), m_ServerFingerprint);
        ASSERT_EQ(Open("tls://" + server.HostPort()), 0);
        EXPECT_EQ(Mon_TcpLinkInfo(m_pConnection->m_Socket).m_Version, test.m_Version);
        // A first-version record is only legal on a first-version stream.
        server.Send(FrameBatch({EncodeClose(1, 2)}));
        MonBatch batch;
        const int32_t read = Mon_ReadBatch(m_pConnection, batch, SessionLimits{});
        EXPECT_EQ(read, test.m_Version == 1 ? 0 : -1);
        EXPECT_EQ(batch.m_bIllegal, test.m_Version == 2);
    }
}

TEST(MonHostForm, ReadsTheThreeFormsAndRefusesTheRest) {
    struct Case {
        const char* m_Text;
        bool m_bValid;
        MonRoute m_Route = MonRoute::Plain;
        const char* m_Host = "";
        uint16_t m_Port = 0;
        const char* m_SshUser = "";
        const char* m_SshHost = "";
        uint16_t m_SshPort = 0;
        const char* m_Key = "";
    };
    const MonRoute P = MonRoute::Plain, T = MonRoute::Tls, S = MonRoute::Ssh;
    const Case cases[] = {
        {"Monitor.Example", true, P, "Monitor.Example", 5051, "", "", 0, "monitor.example:5051"},
        {"::1", true, P, "::1", 5051, "", "", 0, "[::1]:5051"},
        {"tls://[2001:DB8::1]:7000", true, T, "2001:DB8::1", 7000, "", "", 0, "[2001:db8::1]:7000"},
        {"Tls://host", true, T, "host", 5051, "", "", 0, "host:5051"},
        {"ssh://gw", true, S, "127.0.0.1", 5051, "", "gw", 0, "127.0.0.1:5051"},
        {"ssh://ops@gw:2222/10.1.2.3:6000", true, S, "10.1.2.3", 6000, "ops", "gw", 2222,
         "10.1.2.3:6000"},
        {"ssh://[::1]:22/[::1]", true, S, "::1", 5051, "", "::1", 22, "[::1]:5051"},
        {"tls://host:0", false},
        {"tls://host:65536", false},
        {"tls://", false},
        {"tls://host/path", false},
        {"ssh://-oProxyCommand=x", false},
        {"ssh://@gw", false},
        {"ssh://gw/", false},
        {"ssh://gw:99999", false},
        {"[::1", false},
    };
    for (const Case& test : cases) {
        MonHostForm form;
        form.m_Host = "untouched";
        ASSERT_EQ(Mon_ParseHostForm(test.m_Text, form), test.m_bValid) << test.m_Text;
        if (!test.m_bValid) {
            EXPECT_EQ(form.m_Host, "untouched") << test.m_Text;
            continue;
        }
        EXPECT_EQ(form.m_Route, test.m_Route) << test.m_Text;
        EXPECT_EQ(form.m_Host, test.m_Host) << test.m_Text;
        EXPECT_EQ(form.m_Port, test.m_Port) << test.m_Text;
        EXPECT_EQ(form.m_SshUser, test.m_SshUser) << test.m_Text;
        EXPECT_EQ(form.m_SshHost, test.m_SshHost) << test.m_Text;
        EXPECT_EQ(form.m_SshPort, test.m_SshPort) << test.m_Text;
        EXPECT_EQ(Mon_MonitorKey(form), test.m_Key) << test.m_Text;
    }
}

TEST(MonKnownMonitors, RepinningReplacesTheLineKeepsTheRestAndStaysPrivate) {
    const TempFolder folder;
    const std::string path = folder.File("VGL/known_monitors");
    const MonKnownMonitors known(path);
    std::string error;
    EXPECT_EQ(known.Find("a:5051"), "");
    ASSERT_TRUE(known.Add("a:5051", "SHA256:one", error)) << error;
    std::ofstream(path, std::ios::app) << "# kept\nB:5051 SHA256:two\n";
    ASSERT_TRUE(known.Add("A:5051", "SHA256:three", error)) << error;

    EXPECT_EQ(known.Find("a:5051"), "SHA256:three");
    EXPECT_EQ(known.Find("b:5051"), "SHA256:two");
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "# kept\nB:5051 SHA256:two\na:5051 SHA256:three\n");
    EXPECT_EQ(montlstest::ModeOf(path), 0600u);
    EXPECT_EQ(montlstest::ModeOf(folder.File("VGL")), 0700u);
}
