// The monitor's port over TLS, against openssl's own client and a small
// OpenSSL client of the test's: only listed client certificates get records,
// and the records' version comes from ALPN.

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "ProxyHarness.h"
#include "ProxyOptions.h"

namespace monitor_tls_test {

// Client identities in a folder of this process's own.
std::string KeysFolder() {
    return "/tmp/vgl-tls-" + std::to_string(getpid()) + "-keys";
}
ClientIdentity MakeIdentity(const std::string& name) {
    return MakeClientIdentity(KeysFolder(), name);
}

struct Answer {
    bool m_bSecured = false;
    std::string m_Alpn;
    Bytes m_Reply;  // to one request
};

// Connects with `id` as client certificate, offering `alpn` (wire form), asks once.
Answer Ask(const std::string& host, const ClientIdentity& id, const std::string& alpn) {
    Answer answer;
    RawClient socket(host, 5051);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_use_certificate_file(context, id.m_Cert.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context, id.m_Key.c_str(), SSL_FILETYPE_PEM);
    if (!alpn.empty())
        SSL_CTX_set_alpn_protos(context, reinterpret_cast<const unsigned char*>(alpn.data()),
                                static_cast<unsigned>(alpn.size()));
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, socket.Fd());
    const uint8_t request[] = {0, 1, 0};
    uint8_t reply[2];
    if (SSL_connect(ssl) == 1 && SSL_write(ssl, request, sizeof request) == sizeof request) {
        const unsigned char* name = nullptr;
        unsigned length = 0;
        SSL_get0_alpn_selected(ssl, &name, &length);
        answer.m_Alpn.assign(reinterpret_cast<const char*>(name), length);
        // TLS 1.3 reports a refused certificate only at the first read.
        answer.m_bSecured = SSL_read(ssl, reply, sizeof reply) == sizeof reply;
        if (answer.m_bSecured) answer.m_Reply.assign(reply, reply + sizeof reply);
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    return answer;
}

const std::string BothVersions = std::string("\x0dvgl-monitor/2\x0dvgl-monitor/1", 28);
// What VGL offers: control first.
const std::string WithControl = "\x0fvgl-monitor/2.1" + BothVersions;

class ProxyMonitorTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder = "/tmp/vgl-tls-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const ProgramResult made =
            RunProgram({VGL_PROXY_BINARY, "--monitor-tls-generate", m_Folder});
        ASSERT_EQ(made.m_Status, 0) << made.m_Err;
        m_ServerFingerprint = made.m_Out;
        m_Clients = WriteFile("# who may watch\n" + m_Alice.m_Fingerprint + " alice\n");
    }
    void TearDown() override {
        Shell("rm -rf " + m_Folder + " " + KeysFolder());
    }

    std::vector<std::string> TlsOptions() const {
        return {"--monitor-tls-cert",  m_Folder + "/monitor.crt",
                "--monitor-tls-key",   m_Folder + "/monitor.key",
                "--monitor-clients",   m_Clients,
                "--handshake-timeout", "2"};
    }

    const ClientIdentity m_Alice = MakeIdentity("alice");
    const ClientIdentity m_Mallory = MakeIdentity("mallory");
    std::string m_Folder, m_ServerFingerprint, m_Clients;
};

TEST_F(ProxyMonitorTlsTest, TheGeneratedIdentityPrintsTheFingerprintOpensslComputes) {
    EXPECT_EQ(m_ServerFingerprint,
              "SHA256:" +
                  Shell("openssl x509 -in " + m_Folder +
                        "/monitor.crt -outform der | openssl dgst -sha256 -binary | "
                        "base64 | tr -d '=\\n'") +
                  "\n");
    EXPECT_EQ(Shell("stat -c %a " + m_Folder + "/monitor.key"), "600\n");
    // A second run would replace an identity that clients have pinned.
    EXPECT_EQ(RunProgram({VGL_PROXY_BINARY, "--monitor-tls-generate", m_Folder}).m_Status, 1);
}

TEST_F(ProxyMonitorTlsTest, AListedClientGetsItsRecordsInTheVersionItOffered) {
    ProxyProcess proxy(TlsOptions());
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const Answer second = Ask(proxy.Host(), m_Alice, BothVersions);
    EXPECT_TRUE(second.m_bSecured);
    EXPECT_EQ(second.m_Alpn, "vgl-monitor/2");
    EXPECT_EQ(second.m_Reply, (Bytes{0, 0}));
    const Answer first = Ask(proxy.Host(), m_Alice, "");
    EXPECT_EQ(first.m_Alpn, "");
    EXPECT_EQ(first.m_Reply, (Bytes{0, 0}));
    EXPECT_TRUE(proxy.WaitForLog("over TLS as alice (records version 2)")) << proxy.Log();
    EXPECT_TRUE(proxy.WaitForLog("over TLS as alice (records version 1)")) << proxy.Log();
}

TEST_F(ProxyMonitorTlsTest, UnlistedOldAndPlainClientsAreRefused) {
    const std::string host = RandomLoopbackHost();
    std::vector<std::string> options = TlsOptions();
    options.insert(options.end(), {"--metrics", host + ":9151"});
    ProxyProcess proxy(options, {}, host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    EXPECT_FALSE(Ask(host, m_Mallory, BothVersions).m_bSecured);
    EXPECT_TRUE(
        proxy.WaitForLog("certificate " + m_Mallory.m_Fingerprint + " is not in --monitor-clients"))
        << proxy.Log();
    const std::string client = "openssl s_client -connect " + host + ":5051 -cert " +
                               m_Alice.m_Cert + " -key " + m_Alice.m_Key + " </dev/null 2>&1";
    EXPECT_NE(Shell(client + " -tls1_1 -cipher DEFAULT@SECLEVEL=0").find("alert protocol version"),
              std::string::npos);
    EXPECT_NE(Shell(client + " -tls1 -cipher DEFAULT@SECLEVEL=0").find("alert protocol version"),
              std::string::npos);
    RawClient plain(host, 5051);
    ASSERT_TRUE(plain.Send({0, 1, 0}));
    EXPECT_TRUE(plain.Closed());
    EXPECT_TRUE(proxy.WaitForLog("TLS handshake failed", 3)) << proxy.Log();
    const std::string metrics = RunCurl({"http://" + host + ":9151/metrics"}).m_Out;
    EXPECT_NE(metrics.find("vgl_proxy_monitor_refused_total{reason=\"client_key\"} 1\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("vgl_proxy_monitor_refused_total{reason=\"handshake\"} 3\n"),
              std::string::npos)
        << metrics;
}

TEST_F(ProxyMonitorTlsTest, HangUpReloadsTheClientsFile) {
    ProxyProcess proxy(TlsOptions());
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    EXPECT_FALSE(Ask(proxy.Host(), m_Mallory, BothVersions).m_bSecured);
    std::ofstream(m_Clients) << m_Alice.m_Fingerprint << " alice\n"
                             << m_Mallory.m_Fingerprint << " mallory\n";
    kill(proxy.Pid(), SIGHUP);
    ASSERT_TRUE(proxy.WaitForLog("configuration reloaded")) << proxy.Log();
    EXPECT_TRUE(Ask(proxy.Host(), m_Mallory, BothVersions).m_bSecured);
    // A file that does not load keeps the clients as they were.
    std::ofstream(m_Clients) << "SHA256:short mallory\n";
    kill(proxy.Pid(), SIGHUP);
    ASSERT_TRUE(proxy.WaitForLog(m_Clients + ":1: \"SHA256:short\" is not a fingerprint"))
        << proxy.Log();
    EXPECT_TRUE(Ask(proxy.Host(), m_Mallory, BothVersions).m_bSecured);
}

TEST(ProxyMonitorTlsOptionsTest, TlsNeedsItsKeyAndAClientsFile) {
    const auto failure = [](const std::vector<std::string>& args) {
        ProxyOptions options;
        std::string error;
        return ParseProxyOptions(args, options, error) ? std::string() : error;
    };
    EXPECT_NE(failure({"--monitor-tls-cert", "c"}).find("needs --monitor-tls-key"),
              std::string::npos);
    EXPECT_NE(failure({"--monitor-tls-cert", "c", "--monitor-tls-key", "k"})
                  .find("needs a clients file (--monitor-clients)"),
              std::string::npos);
    EXPECT_NE(failure({"--monitor-clients", "f"}).find("needs --monitor-tls-cert"),
              std::string::npos);
}

}  // namespace monitor_tls_test

#ifdef VGL_DEMO_MONITOR_BINARY
namespace monitor_tls_test {

// The demo monitor serves over TLS with the same rules as the proxy, and
// never chooses control, which it does not answer.
TEST_F(ProxyMonitorTlsTest, TheDemoMonitorServesListedClientsOverTls) {
    const std::string host = RandomLoopbackHost();
    const std::string log = m_Folder + "/demo.log";
    const pid_t demo = fork();
    if (demo == 0) {
        const std::string cert = m_Folder + "/monitor.crt", key = m_Folder + "/monitor.key";
        if (!freopen(log.c_str(), "w", stdout)) _exit(127);
        execl(VGL_DEMO_MONITOR_BINARY, VGL_DEMO_MONITOR_BINARY, "--listen", host.c_str(),
              "--monitor-tls-cert", cert.c_str(), "--monitor-tls-key", key.c_str(),
              "--monitor-clients", m_Clients.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(demo, 0);
    // Until it listens; a listening demo answers at once.
    Answer answer;
    for (int attempt = 0; attempt < 100 && !answer.m_bSecured; ++attempt) {
        answer = Ask(host, m_Alice, WithControl);
        if (!answer.m_bSecured) usleep(100000);
    }
    const bool mallory = Ask(host, m_Mallory, BothVersions).m_bSecured;
    kill(demo, SIGTERM);
    waitpid(demo, nullptr, 0);
    EXPECT_TRUE(answer.m_bSecured);
    EXPECT_EQ(answer.m_Alpn, "vgl-monitor/2");
    EXPECT_FALSE(mallory);
    EXPECT_NE(Shell("cat " + log).find("certificate " + m_Mallory.m_Fingerprint),
              std::string::npos);
}

}  // namespace monitor_tls_test
#endif
