// A client marked "act" closes a Dante session through vgl-monitor over TLS:
// the kernel destroys Dante's sockets, the download through Dante fails, and
// the session's close comes in the records. A block is refused, saying why.

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "DantedServer.h"
#include "ProxyHarness.h"
#include "SocketDestroyer.h"
#include "core/monitor/MonControl.h"
#include "core/monitor/MonNetAddress.h"
#include "core/monitor/MonRecordKind.h"
#include "support/LoopbackListener.h"

namespace dante_close_test {

// Why the kernel will not destroy a socket of the test's own, empty when it will.
std::string KernelProblem() {
    LoopbackListener listener(1);
    RawClient client("127.0.0.1", listener.Port());
    const int accepted = accept(listener.Fd(), nullptr, nullptr);
    MonNetAddress local{}, remote{};
    Mon_ParseAddress("127.0.0.1", local);
    remote = local;
    sockaddr_in name{};
    socklen_t length = sizeof name;
    getsockname(client.Fd(), reinterpret_cast<sockaddr*>(&name), &length);
    local.m_Port = ntohs(name.sin_port);
    remote.m_Port = listener.Port();
    std::string error;
    const SocketDestroyer::Outcome outcome = SocketDestroyer().Destroy(local, remote, error);
    close(accepted);
    if (outcome == SocketDestroyer::Outcome::NotSupported)
        return "this kernel cannot destroy sockets (CONFIG_INET_DIAG_DESTROY)";
    if (outcome == SocketDestroyer::Outcome::NotPermitted)
        return "destroying sockets needs CAP_NET_ADMIN";
    return outcome == SocketDestroyer::Outcome::Destroyed ? "" : "the kernel's probe: " + error;
}

// Answers one connection with the head of a reply and then a body that
// never ends, a few megabytes a second: a download that stands until
// something cuts it.
class EndlessHttpServer {
public:
    explicit EndlessHttpServer(const std::string& host) : m_Listener(1, host.c_str()) {
        m_Thread = std::thread([this] { Serve(); });
    }
    ~EndlessHttpServer() {
        m_bStop = true;
        m_Thread.join();
    }
    uint16_t Port() const { return m_Listener.Port(); }

private:
    bool Ready(int fd, short events) const {
        pollfd one{fd, events, 0};
        while (!m_bStop) {
            if (poll(&one, 1, 100) != 0) return (one.revents & events) != 0;
        }
        return false;
    }
    void Serve() {
        if (!Ready(m_Listener.Fd(), POLLIN)) return;
        const int fd = accept(m_Listener.Fd(), nullptr, nullptr);
        char request[4096];
        if (!Ready(fd, POLLIN) || recv(fd, request, sizeof request, 0) <= 0) return;
        const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
        const std::string chunk(16384, 'x');
        bool sent = send(fd, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        while (sent && Ready(fd, POLLOUT)) {
            sent = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0;
            usleep(2000);  // a pace that leaves the machine to the others
        }
        close(fd);
    }

    LoopbackListener m_Listener;
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
};

struct Id {
    uint32_t m_High = 0, m_Low = 0;
    bool operator<(const Id& other) const {
        return m_High != other.m_High ? m_High < other.m_High : m_Low < other.m_Low;
    }
};

// A monitor client over TLS offering "vgl-monitor/2.1", with a key whose
// line in the clients file is marked "act".
class ControlClient {
public:
    ControlClient(const std::string& host, const std::string& cert, const std::string& key)
        : m_Socket(host, 5051), m_Context(SSL_CTX_new(TLS_client_method())) {
        static const unsigned char Alpn[] = "\x0fvgl-monitor/2.1";
        SSL_CTX_use_certificate_file(m_Context, cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_Context, key.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_set_alpn_protos(m_Context, Alpn, sizeof Alpn - 1);
        m_Ssl = SSL_new(m_Context);
        SSL_set_fd(m_Ssl, m_Socket.Fd());
        m_bReady = SSL_connect(m_Ssl) == 1;
    }
    ~ControlClient() {
        SSL_free(m_Ssl);
        SSL_CTX_free(m_Context);
    }
    bool Ready() const { return m_bReady; }

    // One poll: the connections opened and closed in its batch.
    bool Poll(std::set<Id>& opened, std::set<Id>& closed) {
        if (!Send({0})) return false;
        for (Bytes body; Read(body);) {
            if (body.empty()) return true;
            if (body.size() < MonHeaderSize) return false;
            const Id id{Word(body, 1), Word(body, 5)};
            if (body[0] == MonOpen2Kind.m_Byte) opened.insert(id);
            if (body[0] == MonClose2Kind.m_Byte) closed.insert(id);
        }
        return false;
    }
    bool Ask(const MonControlRequest& request, MonControlAnswer& answer) {
        Bytes body;
        return Send(EncodeControlRequest(request)) && Read(body) &&
               DecodeControlAnswer(body.data(), body.size(), answer);
    }

private:
    static uint32_t Word(const Bytes& body, size_t at) {
        return uint32_t(body[at]) << 24 | uint32_t(body[at + 1]) << 16 |
               uint32_t(body[at + 2]) << 8 | body[at + 3];
    }
    bool Send(const Bytes& body) {
        const Bytes frame = FrameMessage(body);
        return SSL_write(m_Ssl, frame.data(), int(frame.size())) == int(frame.size());
    }
    bool ReadExactly(uint8_t* to, size_t size) {
        for (size_t got = 0; got < size;) {
            const int read = SSL_read(m_Ssl, to + got, int(size - got));
            if (read <= 0) return false;
            got += size_t(read);
        }
        return true;
    }
    bool Read(Bytes& body) {
        uint8_t length[2];
        if (!ReadExactly(length, 2)) return false;
        body.resize(size_t(length[0]) << 8 | length[1]);
        return ReadExactly(body.data(), body.size());
    }

    RawClient m_Socket;
    SSL_CTX* m_Context;
    SSL* m_Ssl = nullptr;
    bool m_bReady = false;
};

class DanteCloseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_Dante.Problem().empty()) GTEST_SKIP() << m_Dante.Problem();
        const std::string kernel = KernelProblem();
        if (!kernel.empty()) GTEST_SKIP() << kernel;
        m_Folder = "/tmp/vgl-dante-close-" + std::to_string(getpid());
        ASSERT_EQ(RunProgram({VGL_MONITOR_BINARY, "--monitor-tls-generate", m_Folder}).m_Status, 0);
        const ClientIdentity alice = MakeClientIdentity(m_Folder, "alice");
        m_Key = alice.m_Key;
        m_Cert = alice.m_Cert;
        m_Clients = WriteFile(alice.m_Fingerprint + " act alice\n");
    }
    void TearDown() override { Shell("rm -rf " + m_Folder + " " + m_Clients); }

    DantedServer m_Dante{RandomLoopbackHost()};
    std::string m_Folder, m_Key, m_Cert, m_Clients;
};

TEST_F(DanteCloseTest, AnActClientClosesADownloadAndCannotBlock) {
    ServerProcess monitor;
    monitor.Start({VGL_MONITOR_BINARY, "--dante-log", m_Dante.LogPath(), "--monitor",
                   m_Dante.Host(), "--monitor-tls-cert", m_Folder + "/monitor.crt",
                   "--monitor-tls-key", m_Folder + "/monitor.key", "--monitor-clients", m_Clients},
                  "monitor on");
    ASSERT_TRUE(monitor.Started()) << monitor.Log();
    ControlClient client(m_Dante.Host(), m_Cert, m_Key);
    ASSERT_TRUE(client.Ready()) << monitor.Log();
    MonControlAnswer hello;
    ASSERT_TRUE(client.Ask({}, hello)) << monitor.Log();
    EXPECT_EQ(hello.m_Value, MonMayClose) << hello.m_Text;

    const std::string webHost = RandomLoopbackHost();
    EndlessHttpServer web(webHost);
    ProgramResult download;
    std::thread curl([&] {
        download = RunCurl({"--max-time", "30", "--socks5", m_Dante.Proxy(), "-o", "/dev/null",
                            "http://" + webHost + ":" + std::to_string(web.Port()) + "/"});
    });
    std::set<Id> opened, closed;
    const auto pollUntil = [&](const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (client.Poll(opened, closed) && !done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return done();
    };
    const bool open = pollUntil([&] { return !opened.empty(); });
    MonControlAnswer answer;
    Id session;
    if (open) {
        session = *opened.begin();
        MonControlRequest close;
        close.m_Op = MonControlOp::Close;
        close.m_IdHigh = session.m_High;
        close.m_IdLow = session.m_Low;
        EXPECT_TRUE(client.Ask(close, answer));
        EXPECT_TRUE(pollUntil([&] { return closed.count(session) == 1; })) << monitor.Log();
    }
    curl.join();
    ASSERT_TRUE(open) << monitor.Log();
    EXPECT_EQ(answer.m_Status, MonControlStatus::Done) << answer.m_Text;
    EXPECT_EQ(answer.m_Closed, 1u);
    const std::string id = std::to_string(session.m_High) + ":" + std::to_string(session.m_Low);
    EXPECT_EQ(answer.m_Text.rfind("closed " + id + " (client 127.0.0.1:", 0), 0u) << answer.m_Text;
    EXPECT_EQ(download.m_Status, 56) << download.m_Err;  // reset, not its time running out

    MonControlRequest block;
    block.m_Op = MonControlOp::Block;
    block.m_What = MonBlockWhat::Client;
    block.m_Value = "127.0.0.1";
    ASSERT_TRUE(client.Ask(block, answer));
    EXPECT_EQ(answer.m_Status, MonControlStatus::Refused);
    EXPECT_NE(answer.m_Text.find("does not block"), std::string::npos) << answer.m_Text;
}

}  // namespace dante_close_test
