// The cost of TLS on the monitor link: one poll of a 100,000-record batch over
// TLS against the same poll over plain TCP, with the CPU time of both ends
// (client and monitor run in this process, so process CPU time is the two
// together), and the cost of a TLS connect (handshake and pin check). The
// monitor end is plain OpenSSL over a loopback socket, serving the same bytes
// each request; the client end is VGL's own transport.

#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "core/monitor/MonBatch.h"
#include "core/monitor/MonEncode.h"
#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonKnownMonitors.h"
#include "core/monitor/MonStream.h"
#include "core/monitor/MonTls.h"
#include "support/LoopbackListener.h"
#include "support/TempFolder.h"

namespace {

constexpr int BatchRecords = 100000;

MonBytes BatchBytes() {
    std::vector<MonBytes> bodies;
    bodies.reserve(BatchRecords);
    for (int i = 0; i < BatchRecords; ++i) {
        const uint32_t id = static_cast<uint32_t>(i / 2 + 1);
        bodies.push_back(i % 2 == 0
                             ? EncodeOpen(7, id, 2, 1700000000, "operator",
                                          EncodeSockAddr(0xC0A80A17, 40512), "workstation.lan")
                             : EncodeUpdate(7, id, "www", {}, {}, EncodeSockAddr(0x5DB8D822, 443),
                                            "www.example.com", 1234567, 89012));
    }
    return FrameBatch(bodies);
}

// A monitor on 127.0.0.1 and a port of its own, plain or TLS, that answers each
// three-byte request with the batch; one client at a time, as long as it stays.
class BenchMonitor {
public:
    BenchMonitor(bool tls, const std::string& folder) : m_bTls(tls), m_Batch(BatchBytes()) {
        // OpenSSL writes with write(): a client gone before its session ticket must not kill us.
        std::signal(SIGPIPE, SIG_IGN);
        if (tls) MakeContext(folder);
        m_Thread = std::thread([this] { Serve(); });
    }
    ~BenchMonitor() {
        m_bStop = true;
        m_Listener.Shutdown();
        m_Thread.join();
        SSL_CTX_free(m_Context);
    }
    std::string Host(const char* scheme) const {
        return std::string(scheme) + "127.0.0.1:" + std::to_string(m_Listener.Port());
    }
    const std::string& Fingerprint() const { return m_Fingerprint; }

private:
    void MakeContext(const std::string& folder) {
        std::string error;
        const std::string key = folder + "/monitor.key", cert = folder + "/monitor.crt";
        Mon_MakeIdentity(key, cert, "bench monitor", error);
        Mon_CertificateFingerprint(cert, m_Fingerprint, error);
        m_Context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_min_proto_version(m_Context, TLS1_2_VERSION);
        SSL_CTX_use_certificate_file(m_Context, cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_Context, key.c_str(), SSL_FILETYPE_PEM);
        // Any client key: the benchmark measures the link, not the list.
        SSL_CTX_set_verify(m_Context, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
    }

    void Serve() {
        while (!m_bStop) {
            const int fd = ::accept(m_Listener.Fd(), nullptr, nullptr);
            if (fd < 0) return;
            SSL* ssl = nullptr;
            if (m_bTls) {
                ssl = SSL_new(m_Context);
                SSL_set_fd(ssl, fd);
                if (SSL_accept(ssl) != 1) {
                    SSL_free(ssl);
                    ::close(fd);
                    continue;
                }
            }
            uint8_t request[3];
            while (ReadAll(ssl, fd, request, sizeof request) && WriteAll(ssl, fd)) {
            }
            if (ssl != nullptr) SSL_free(ssl);
            ::close(fd);
        }
    }
    bool ReadAll(SSL* ssl, int fd, uint8_t* into, size_t size) {
        while (size > 0) {
            const int got = ssl ? SSL_read(ssl, into, static_cast<int>(size))
                                : static_cast<int>(::recv(fd, into, size, 0));
            if (got <= 0) return false;
            into += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }
    bool WriteAll(SSL* ssl, int fd) {
        const uint8_t* from = m_Batch.data();
        size_t size = m_Batch.size();
        while (size > 0) {
            const int put = ssl ? SSL_write(ssl, from, static_cast<int>(size))
                                : static_cast<int>(::send(fd, from, size, MSG_NOSIGNAL));
            if (put <= 0) return false;
            from += put;
            size -= static_cast<size_t>(put);
        }
        return true;
    }

    const bool m_bTls;
    const MonBytes m_Batch;
    SSL_CTX* m_Context = nullptr;
    std::string m_Fingerprint;
    const LoopbackListener m_Listener{16};
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
};

class BenchFolder {
public:
    BenchFolder() {
        Mon_TlsSetSettings({m_Folder.File("identity.pem"), m_Folder.File("known_monitors")});
    }
    const std::string& Path() const { return m_Folder.Path(); }
    void Pin(const BenchMonitor& monitor) const {
        MonHostForm form;
        Mon_ParseHostForm(monitor.Host("tls://"), form);
        std::string error;
        MonKnownMonitors(m_Folder.File("known_monitors"))
            .Add(Mon_MonitorKey(form), monitor.Fingerprint(), error);
    }

private:
    TempFolder m_Folder;
};

void PollBatch(benchmark::State& state, bool tls) {
    BenchFolder folder;
    BenchMonitor monitor(tls, folder.Path());
    if (tls) folder.Pin(monitor);
    MonitorConnection* connection = nullptr;
    if (Mon_Open(monitor.Host(tls ? "tls://" : "").c_str(), &connection) != 0) {
        state.SkipWithError(connection ? connection->m_LastErrorText : "cannot connect");
        Mon_Close(connection);
        return;
    }
    MonBatch batch;
    const SessionLimits limits;
    for (auto _ : state) {
        if (Mon_ReadBatch(connection, batch, limits) != 0 || batch.Bytes() == 0) {
            state.SkipWithError(connection->m_LastErrorText);
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * BatchRecords);
    Mon_Close(connection);
}

void BM_PollPlain(benchmark::State& state) {
    PollBatch(state, false);
}
void BM_PollTls(benchmark::State& state) {
    PollBatch(state, true);
}
BENCHMARK(BM_PollPlain)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollTls)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// A connect over TLS: TCP, the handshake with both certificates, the pin check.
void BM_TlsConnect(benchmark::State& state) {
    BenchFolder folder;
    BenchMonitor monitor(true, folder.Path());
    folder.Pin(monitor);
    const std::string host = monitor.Host("tls://");
    for (auto _ : state) {
        MonitorConnection* connection = nullptr;
        if (Mon_Open(host.c_str(), &connection) != 0) {
            state.SkipWithError(connection ? connection->m_LastErrorText : "cannot connect");
            Mon_Close(connection);
            break;
        }
        Mon_Close(connection);
    }
}
BENCHMARK(BM_TlsConnect)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
