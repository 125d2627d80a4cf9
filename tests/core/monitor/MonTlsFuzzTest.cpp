// Mutated server handshakes against the client's TLS link: each round a real
// TLS server (OpenSSL in memory) answers the client's hello with its whole
// first flight, one byte of it changed, and then closes its sending side, so
// the client either finishes, fails at once, or sees the end of the stream;
// nothing waits on a clock. Run under the sanitizers, a memory fault anywhere
// in the link fails the suite.

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonStream.h"
#include "core/monitor/MonTls.h"
#include "support/LoopbackListener.h"
#include "support/TempFolder.h"

namespace {

// One listening socket on 127.0.0.1; each round takes one client.
class MutatingServer {
public:
    explicit MutatingServer(const TempFolder& folder) {
        std::string error;
        const std::string key = folder.File("m.key"), cert = folder.File("m.crt");
        Mon_MakeIdentity(key, cert, "fuzz", error);
        m_Context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(m_Context, cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_Context, key.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_set_verify(m_Context, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
    }
    ~MutatingServer() { SSL_CTX_free(m_Context); }
    uint16_t Port() const { return m_Listener.Port(); }
    std::string Host() const { return "tls://127.0.0.1:" + std::to_string(Port()); }

    // Serves one client: its hello in, the first flight out with the byte at
    // `position` (modulo the flight's length) xor'ed with `mask`.
    void ServeOne(size_t position, uint8_t mask) {
        const int fd = ::accept(m_Listener.Fd(), nullptr, nullptr);
        if (fd < 0) return;
        SSL* ssl = SSL_new(m_Context);
        BIO* in = BIO_new(BIO_s_mem());
        BIO* out = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl, in, out);
        SSL_set_accept_state(ssl);
        std::vector<uint8_t> hello(16384);
        const ssize_t got = ::recv(fd, hello.data(), hello.size(), 0);
        if (got > 0) {
            BIO_write(in, hello.data(), static_cast<int>(got));
            SSL_do_handshake(ssl);
            std::vector<uint8_t> flight(static_cast<size_t>(BIO_ctrl_pending(out)));
            if (!flight.empty()) {
                BIO_read(out, flight.data(), static_cast<int>(flight.size()));
                flight[position % flight.size()] ^= mask;
                ::send(fd, flight.data(), flight.size(), MSG_NOSIGNAL);
            }
        }
        ::shutdown(fd, SHUT_WR);
        SSL_free(ssl);
        ::close(fd);
    }

private:
    SSL_CTX* m_Context = nullptr;
    const LoopbackListener m_Listener{4};
};

}  // namespace

TEST(MonTlsFuzz, MutatedServerHandshakesFailCleanly) {
    TempFolder folder;
    const MonTlsSettings saved = Mon_TlsGetSettings();
    Mon_TlsSetSettings({folder.File("identity.pem"), folder.File("known_monitors")});
    MutatingServer server(folder);
    // Without a listener every round would fail for the wrong reason.
    ASSERT_NE(server.Port(), 0);
    // VGL_FUZZ_ROUNDS runs longer by hand; the suite's share is a few seconds.
    const char* rounds = std::getenv("VGL_FUZZ_ROUNDS");
    const int roundCount = rounds != nullptr ? std::atoi(rounds) : 1500;
    std::mt19937 random(20261209);
    for (int round = 0; round < roundCount; ++round) {
        const size_t position = random();
        const auto mask = static_cast<uint8_t>(1u << (random() % 8));
        std::thread serve([&] { server.ServeOne(position, mask); });
        MonitorConnection* connection = nullptr;
        const int32_t result = Mon_Open(server.Host().c_str(), &connection);
        // An unpinned monitor is never accepted, however its handshake went.
        EXPECT_NE(result, 0) << "round " << round;
        Mon_Close(connection);
        serve.join();
    }
    Mon_TlsSetSettings(saved);
}
