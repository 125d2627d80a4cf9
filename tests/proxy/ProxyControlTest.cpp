// Control requests of monitor clients, against the real vgl-proxy, real curl
// and a small OpenSSL client: a close ends a running download with its
// result, blocks refuse what they cover (and outlast a restart with a state
// file), and a client that may not act, or a link that takes no control,
// changes nothing.

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "ProxyHarness.h"
#include "core/monitor/MonControl.h"
#include "core/monitor/MonStream.h"

namespace proxy_control_test {

const std::string ControlAlpn = std::string("\x0fvgl-monitor/2.1", 16);
const std::string RecordsAlpn = std::string("\x0dvgl-monitor/2", 14);

// One TLS link to the monitor: control requests and polls, one at a time.
class Link {
public:
    Link(const std::string& host, const ClientIdentity& id, const std::string& alpn)
        : m_Socket(host, 5051), m_Context(SSL_CTX_new(TLS_client_method())) {
        SSL_CTX_use_certificate_file(m_Context, id.m_Cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_Context, id.m_Key.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_set_alpn_protos(m_Context, reinterpret_cast<const unsigned char*>(alpn.data()),
                                static_cast<unsigned>(alpn.size()));
        m_Ssl = SSL_new(m_Context);
        SSL_set_fd(m_Ssl, m_Socket.Fd());
        m_bUp = SSL_connect(m_Ssl) == 1;
    }
    ~Link() {
        SSL_free(m_Ssl);
        SSL_CTX_free(m_Context);
    }

    // The answer, or nothing when the link failed or brought something else.
    std::optional<MonControlAnswer> Ask(const MonControlRequest& request,
                                        std::vector<MonBlock>* blocks = nullptr) {
        if (!Send(FrameMessage(EncodeControlRequest(request)))) return std::nullopt;
        for (;;) {
            const std::optional<Bytes> body = Message();
            if (!body || body->empty()) return std::nullopt;
            MonBlock block;
            if (blocks && DecodeBlock(body->data(), body->size(), block)) {
                blocks->push_back(block);
                continue;
            }
            MonControlAnswer answer;
            if (!DecodeControlAnswer(body->data(), body->size(), answer)) return std::nullopt;
            return answer;
        }
    }
    std::vector<MonitorRecord> Batch() {
        std::vector<MonitorRecord> records;
        if (!Send({0x00, 0x01, 0x00})) return records;
        for (std::optional<Bytes> body = Message(); body && !body->empty(); body = Message()) {
            MonitorRecord record{};
            if (Mon_DecodeVersion(2, static_cast<uint16_t>(body->size()), body->data(), &record) ==
                0)
                records.push_back(record);
        }
        return records;
    }
    bool Up() const { return m_bUp; }

private:
    bool Send(const Bytes& bytes) {
        return m_bUp && SSL_write(m_Ssl, bytes.data(), static_cast<int>(bytes.size())) ==
                            static_cast<int>(bytes.size());
    }
    bool Read(uint8_t* data, size_t size) {
        for (size_t done = 0; done < size;) {
            const int n = SSL_read(m_Ssl, data + done, static_cast<int>(size - done));
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    std::optional<Bytes> Message() {
        uint8_t length[2];
        if (!Read(length, 2)) return std::nullopt;
        Bytes body(static_cast<size_t>(length[0] << 8 | length[1]));
        if (!Read(body.data(), body.size())) return std::nullopt;
        return body;
    }

    RawClient m_Socket;
    SSL_CTX* m_Context;
    SSL* m_Ssl = nullptr;
    bool m_bUp = false;
};

MonControlRequest Request(MonControlOp op) {
    MonControlRequest request;
    request.m_Op = op;
    return request;
}

MonControlRequest BlockRequest(MonBlockWhat what, const std::string& value, uint32_t seconds,
                               bool closeOpen = false) {
    MonControlRequest request = Request(MonControlOp::Block);
    request.m_What = what;
    request.m_Value = value;
    request.m_Seconds = seconds;
    request.m_bCloseOpen = closeOpen;
    return request;
}

// alice's password is "secret" (made by mkpasswd -m yescrypt).
constexpr char AliceLine[] =
    "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n";

class ProxyControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Folder = "/tmp/vgl-control-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const ProgramResult made =
            RunProgram({VGL_PROXY_BINARY, "--monitor-tls-generate", m_Folder});
        ASSERT_EQ(made.m_Status, 0) << made.m_Err;
        m_Ops = MakeClientIdentity(m_Folder, "ops");
        m_Viewer = MakeClientIdentity(m_Folder, "viewer");
        m_Clients = m_Folder + "/clients";
        Shell("printf '%s act ops-laptop\\n%s viewer\\n' " + m_Ops.m_Fingerprint + " " +
              m_Viewer.m_Fingerprint + " > " + m_Clients);
        m_Web.emplace(m_WebHost, 0);
    }
    void TearDown() override { Shell("rm -rf " + m_Folder); }

    std::vector<std::string> Options(std::vector<std::string> more = {}) const {
        std::vector<std::string> options = {"--monitor-tls-cert", m_Folder + "/monitor.crt",
                                            "--monitor-tls-key",  m_Folder + "/monitor.key",
                                            "--monitor-clients",  m_Clients};
        options.insert(options.end(), more.begin(), more.end());
        return options;
    }
    std::string Url(size_t size) const {
        return "http://" + m_WebHost + ":" + std::to_string(m_Web->Port()) + "/" +
               std::to_string(size);
    }
    // A download slow enough to be closed halfway: curl takes 64 KiB a second of 32 MiB.
    std::future<ProgramResult> SlowDownload(const ProxyProcess& proxy) const {
        return std::async(std::launch::async, [url = Url(32 << 20), socks = proxy.Proxy()] {
            return RunCurl({"--socks5", socks, "--limit-rate", "64K", url});
        });
    }

    const std::string m_WebHost = RandomLoopbackHost();
    std::optional<LocalHttpServer> m_Web;
    ClientIdentity m_Ops, m_Viewer;
    std::string m_Folder, m_Clients;
};

// Polls until a record of `kind` comes (with `dest` as its destination, if
// given), or 20 s pass; every record seen goes to `seen`.
std::optional<MonitorRecord> AwaitRecord(Link& link, uint32_t kind,
                                         std::vector<MonitorRecord>& seen,
                                         const std::string& dest = {}) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        for (const MonitorRecord& record : link.Batch()) {
            seen.push_back(record);
            if (record.m_Kind == kind && (dest.empty() || record.m_DestName == dest)) return record;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

TEST_F(ProxyControlTest, ACloseOrABlockEndsRunningDownloadsAndBlocksRefuseNewOnes) {
    ProxyProcess proxy(Options());
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    Link link(proxy.Host(), m_Ops, ControlAlpn);
    ASSERT_TRUE(link.Up());
    const auto hello = link.Ask(Request(MonControlOp::Hello));
    ASSERT_TRUE(hello) << proxy.Log();
    EXPECT_EQ(hello->m_Value, MonMayClose | MonMayBlock);

    std::future<ProgramResult> download = SlowDownload(proxy);
    std::vector<MonitorRecord> records;
    const auto open = AwaitRecord(link, RecordKindOpen, records);
    ASSERT_TRUE(open);
    MonControlRequest close = Request(MonControlOp::Close);
    close.m_IdHigh = open->m_IdHigh;
    close.m_IdLow = open->m_IdLow;
    const auto closed = link.Ask(close);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->m_Status, MonControlStatus::Done) << closed->m_Text;
    EXPECT_EQ(closed->m_Closed, 1u);
    EXPECT_NE(download.get().m_Status, 0);
    ASSERT_TRUE(AwaitRecord(link, RecordKindClose, records));
    const auto result = std::find_if(records.begin(), records.end(), [](const auto& record) {
        return record.m_Kind == RecordKindResult;
    });
    ASSERT_NE(result, records.end());
    EXPECT_EQ(result->m_ResultCode, 0x103u);
    EXPECT_EQ(std::string(result->m_ResultText), "closed by ops-laptop");
    const std::string id = std::to_string(open->m_IdHigh) + ":" + std::to_string(open->m_IdLow);
    const auto again = link.Ask(close);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->m_Status, MonControlStatus::Refused);
    EXPECT_EQ(again->m_Text, "no open connection " + id);
    // Both closes audited, with who asked, what and how it went.
    EXPECT_TRUE(proxy.WaitForLog("audit: \"ops-laptop\" " + m_Ops.m_Fingerprint, 2)) << proxy.Log();
    EXPECT_NE(proxy.Log().find(": close " + id + ": done"), std::string::npos) << proxy.Log();
    EXPECT_NE(proxy.Log().find(": close " + id + ": refused"), std::string::npos) << proxy.Log();

    // A destination block that closes what it covers ends the next download too.
    download = SlowDownload(proxy);
    records.clear();
    // Once the monitor shows where it goes, the block knows it too.
    ASSERT_TRUE(AwaitRecord(link, RecordKindUpdate, records, m_WebHost));
    const auto blocked =
        link.Ask(BlockRequest(MonBlockWhat::Destination, m_WebHost + "/32", 0, true));
    ASSERT_TRUE(blocked);
    EXPECT_EQ(blocked->m_Status, MonControlStatus::Done) << blocked->m_Text;
    EXPECT_EQ(blocked->m_Closed, 1u);
    EXPECT_EQ(blocked->m_Text, "destination " + m_WebHost +
                                   "/32 blocked until lifted or until vgl-proxy stops (no "
                                   "--blocks-file); 1 open connection closed");
    EXPECT_NE(download.get().m_Status, 0);
    EXPECT_NE(RunCurl({"--socks5", proxy.Proxy(), Url(10)}).m_Status, 0);
    EXPECT_TRUE(
        proxy.WaitForLog("blocked: destination " + m_WebHost + "/32 (block 1 by ops-laptop)", 2))
        << proxy.Log();
    // A client block turns the client away as it connects.
    ASSERT_TRUE(link.Ask(BlockRequest(MonBlockWhat::Client, "127.0.0.1", 60)));
    EXPECT_NE(RunCurl({"--socks5", proxy.Proxy(), Url(10)}).m_Status, 0);
    EXPECT_TRUE(proxy.WaitForLog("blocked: client 127.0.0.1 (block 2 by ops-laptop)"))
        << proxy.Log();
}

TEST_F(ProxyControlTest, AUserBlockRefusesTheRequestOutlastsARestartAndLifts) {
    const std::string users = WriteFile(AliceLine);
    const std::string state = m_Folder + "/blocks.toml";
    const std::string metricsHost = RandomLoopbackHost();
    const std::vector<std::string> options = Options({"--users", users, "--blocks-file", state});
    const std::vector<std::string> alice = {"--socks5", "", "--proxy-user", "alice:secret",
                                            Url(100)};
    const auto asAlice = [&](const ProxyProcess& proxy) {
        std::vector<std::string> arguments = alice;
        arguments[1] = proxy.Proxy();
        return RunCurl(arguments).m_Status;
    };
    std::optional<ProxyProcess> proxy;
    proxy.emplace(options);
    ASSERT_TRUE(proxy->Started()) << proxy->Log();
    {
        Link link(proxy->Host(), m_Ops, ControlAlpn);
        const auto blocked = link.Ask(BlockRequest(MonBlockWhat::User, "alice", 3600));
        ASSERT_TRUE(blocked);
        EXPECT_EQ(blocked->m_Status, MonControlStatus::Done) << blocked->m_Text;
        EXPECT_EQ(blocked->m_Value, 1u);
        EXPECT_EQ(blocked->m_Text, "user alice blocked for 1 h");
    }
    EXPECT_NE(asAlice(*proxy), 0);
    EXPECT_TRUE(proxy->WaitForLog("blocked: user alice (block 1 by ops-laptop)")) << proxy->Log();
    EXPECT_EQ(Shell("stat -c %a " + state), "600\n");

    proxy.reset();
    std::vector<std::string> withMetrics = options;
    withMetrics.insert(withMetrics.end(), {"--metrics", metricsHost + ":9153"});
    proxy.emplace(withMetrics);
    ASSERT_TRUE(proxy->Started()) << proxy->Log();
    EXPECT_NE(asAlice(*proxy), 0);
    Link link(proxy->Host(), m_Ops, ControlAlpn);
    std::vector<MonBlock> blocks;
    const auto list = link.Ask(Request(MonControlOp::ListBlocks), &blocks);
    ASSERT_TRUE(list);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].m_Value, "alice");
    EXPECT_EQ(blocks[0].m_ByName, "ops-laptop");
    EXPECT_EQ(blocks[0].m_ByFingerprint, m_Ops.m_Fingerprint);
    const std::string metrics = RunCurl({"http://" + metricsHost + ":9153/metrics"}).m_Out;
    for (const char* line :
         {"vgl_proxy_blocks{what=\"user\"} 1", "vgl_proxy_refused_total{by=\"user_block\"} 1",
          "vgl_proxy_control_requests_total{action=\"list\",result=\"done\"} 1"})
        EXPECT_NE(metrics.find(std::string("\n") + line + "\n"), std::string::npos) << line;

    MonControlRequest lift = Request(MonControlOp::Lift);
    lift.m_BlockId = 1;
    const auto lifted = link.Ask(lift);
    ASSERT_TRUE(lifted);
    EXPECT_EQ(lifted->m_Status, MonControlStatus::Done) << lifted->m_Text;
    EXPECT_EQ(asAlice(*proxy), 0);

    // A state file that cannot be read stops the start rather than drop its blocks unsaid.
    Shell("echo '[[block' > " + state);
    ProxyProcess broken(options);
    EXPECT_FALSE(broken.Started());
    EXPECT_TRUE(broken.WaitForLog(state + ":1:")) << broken.Log();
    std::remove(users.c_str());
}

TEST_F(ProxyControlTest, AClientThatMayNotActALinkWithoutControlAndABadValueChangeNothing) {
    ProxyProcess proxy(Options());
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const MonControlRequest block = BlockRequest(MonBlockWhat::Client, "127.0.0.0/8", 0);
    {
        Link viewer(proxy.Host(), m_Viewer, ControlAlpn);
        const auto refused = viewer.Ask(block);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->m_Status, MonControlStatus::Refused);
        Link records(proxy.Host(), m_Ops, RecordsAlpn);
        ASSERT_TRUE(records.Up());
        EXPECT_FALSE(records.Ask(block));
        RawClient plain(proxy.Host(), 5051);
        ASSERT_TRUE(plain.Send(FrameMessage(EncodeControlRequest(block))));
        EXPECT_TRUE(plain.Closed());
    }
    Link ops(proxy.Host(), m_Ops, ControlAlpn);
    const auto bad = ops.Ask(BlockRequest(MonBlockWhat::Client, "not-an-address", 0));
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->m_Status, MonControlStatus::Refused);
    EXPECT_EQ(bad->m_Text, MonBlockValueProblem(MonBlockWhat::Client, "not-an-address"));
    std::vector<MonBlock> blocks;
    ASSERT_TRUE(ops.Ask(Request(MonControlOp::ListBlocks), &blocks));
    EXPECT_TRUE(blocks.empty());
    EXPECT_EQ(RunCurl({"--socks5", proxy.Proxy(), Url(100)}).m_Status, 0);
    EXPECT_TRUE(proxy.WaitForLog("audit: \"viewer\" " + m_Viewer.m_Fingerprint)) << proxy.Log();
    EXPECT_NE(proxy.Log().find(": block client \"127.0.0.0/8\" until lifted: refused"),
              std::string::npos)
        << proxy.Log();
}

}  // namespace proxy_control_test
