#pragma once
// Real processes and sockets for the proxy's end-to-end tests: the vgl-proxy
// program on a random loopback address 127.x.y.z (its SOCKS5 port 1080 and its
// monitor on 5051 there, so tests run in parallel), a small HTTP server, a
// raw socket client for hand-made handshakes, and a way to run curl.
// Every wait gives up after a time-out; none of them measures speed.

#include <netinet/in.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A loopback address other than 127.0.0.1 whose ports 1080 and 5051 are free.
std::string RandomLoopbackHost();
sockaddr_in LoopbackAddress(const std::string& host, uint16_t port);

// A server program of ours run as a child, its standard error collected: it
// counts as started once its log says `ready` ("listening on"). Killed at the
// end if still running.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Waits until the log says `ready` or the program ends.
    void Start(const std::vector<std::string>& argv, const std::string& ready = "listening on");
    bool Started() const { return m_bStarted; }
    // Sends the signal and returns the exit status (-1 if it did not end normally).
    int Stop(int signal = 15);
    std::string Log() const;
    bool WaitForLog(const std::string& text, size_t count = 1, int timeoutMs = 10000) const;
    size_t RssKiB() const;
    pid_t Pid() const { return m_Pid; }

private:
    void ReadLog(int fd);

    pid_t m_Pid = -1;
    int m_Status = -1;
    bool m_bStarted = false;
    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::string m_Log;
    bool m_bLogEnded = false;
    std::thread m_Reader;
};

class ProxyProcess : public ServerProcess {
public:
    static constexpr uint16_t Port = 1080;

    // Starts vgl-proxy --listen HOST:1080 --monitor HOST plus `options`, and
    // waits until it says it listens or it ends.
    explicit ProxyProcess(const std::vector<std::string>& options = {});
    // The same on `host`, started through `wrapper` (such as "ip netns exec NAME").
    ProxyProcess(const std::vector<std::string>& options, const std::vector<std::string>& wrapper,
                 const std::string& host);

    const std::string& Host() const { return m_Host; }
    std::string Proxy() const { return m_Host + ":" + std::to_string(Port); }

private:
    void StartProxy(const std::vector<std::string>& options,
                    const std::vector<std::string>& wrapper);

    std::string m_Host;
};

// Answers "GET /N" with N bytes of a known pattern, one connection at a time.
class LocalHttpServer {
public:
    LocalHttpServer(const std::string& host, uint16_t port);  // port 0: any free one
    ~LocalHttpServer();
    uint16_t Port() const { return m_Port; }
    // Bytes of the last request received (it has no body) and of the whole last reply.
    size_t LastRequestBytes() const { return m_LastRequestBytes; }
    static size_t ReplyBytes(size_t bodySize);
    static std::string Body(size_t size);

private:
    void Run();
    int m_ListenFd = -1;
    int m_StopPipe[2] = {-1, -1};
    uint16_t m_Port = 0;
    std::atomic<size_t> m_LastRequestBytes{0};
    std::thread m_Thread;
};

// A plain TCP client for hand-made SOCKS5 bytes.
class RawClient {
public:
    RawClient(const std::string& host, uint16_t port, const std::string& source = "");
    ~RawClient();
    RawClient(RawClient&& other) noexcept : m_Fd(other.m_Fd) { other.m_Fd = -1; }
    bool Connected() const { return m_Fd >= 0; }
    bool Send(const Bytes& bytes);
    void ShutdownSend();
    // Exactly `size` bytes, or fewer when the peer closed or the time ran out.
    Bytes Read(size_t size, int timeoutMs = 10000);
    // True when the peer has closed (end of stream or reset) within the time.
    bool Closed(int timeoutMs = 10000);
    int Fd() const { return m_Fd; }

private:
    int m_Fd = -1;
};

// Asks a monitor once and decodes the whole batch (the first version).
struct MonitorRecord;
std::vector<MonitorRecord> AskForBatch(RawClient& monitor);

struct ProgramResult {
    int m_Status = -1;
    std::string m_Out, m_Err;
};
ProgramResult RunProgram(const std::vector<std::string>& argv);
ProgramResult RunCurl(const std::vector<std::string>& arguments);

// Writes a temporary file under /tmp and answers its path (empty when it failed).
std::string WriteFile(const std::string& content);
// What /bin/sh -c prints on its standard output.
std::string Shell(const std::string& command);

// A monitor client's identity made by openssl, as a user might make one by
// hand: FOLDER/NAME.key and FOLDER/NAME.crt, and the fingerprint a clients
// file lists it by.
struct ClientIdentity {
    std::string m_Key, m_Cert, m_Fingerprint;
};
ClientIdentity MakeClientIdentity(const std::string& folder, const std::string& name);

// Two network namespaces joined by a cable (a veth pair): the proxy's side
// 10.200.0.1 and a client's side 10.200.0.2, so that a client is not on the
// proxy's machine. Needs the right to make namespaces (root).
class NamespacePair {
public:
    static constexpr const char* ProxyAddress = "10.200.0.1";
    static constexpr const char* ClientAddress = "10.200.0.2";

    NamespacePair();
    ~NamespacePair();
    bool Ready() const { return m_bReady; }
    const std::string& ProxySide() const { return m_Proxy; }
    const std::string& ClientSide() const { return m_Client; }
    // Runs `make` on a thread inside the namespace: sockets it makes live there.
    template <class Make>
    auto In(const std::string& name, Make make) {
        std::optional<decltype(make())> made;
        std::thread([&] {
            if (Enter(name)) made.emplace(make());
        }).join();
        return made;
    }

private:
    static bool Enter(const std::string& name);
    std::string m_Proxy, m_Client;
    bool m_bReady = false;
};

// The SOCKS5 CONNECT request for an IPv4 destination "a.b.c.d".
Bytes ConnectRequest(const std::string& ipv4, uint16_t port, uint8_t command = 0x01);
// The CONNECT request for a domain name.
Bytes ConnectByName(const std::string& name, uint16_t port);
// The user name and password message of a login.
Bytes Login(const std::string& user, const std::string& password);
