#include "ProxyHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "core/monitor/MonStream.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

bool CanBind(const std::string& host, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = LoopbackAddress(host, port);
    const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

int RemainingMs(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

pid_t Spawn(const std::vector<std::string>& argv, int out, int err) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace

sockaddr_in LoopbackAddress(const std::string& host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

std::string RandomLoopbackHost() {
    static std::mt19937 random(std::random_device{}());
    for (;;) {
        std::uniform_int_distribution<int> byte(1, 254);
        const std::string host = "127." + std::to_string(byte(random)) + "." +
                                 std::to_string(byte(random)) + "." + std::to_string(byte(random));
        if (CanBind(host, ProxyProcess::Port) && CanBind(host, 5051)) return host;
    }
}

ProxyProcess::ProxyProcess(const std::vector<std::string>& options) : m_Host(RandomLoopbackHost()) {
    StartProxy(options, {});
}

ProxyProcess::ProxyProcess(const std::vector<std::string>& options,
                           const std::vector<std::string>& wrapper, const std::string& host)
    : m_Host(host) {
    StartProxy(options, wrapper);
}

void ProxyProcess::StartProxy(const std::vector<std::string>& options,
                              const std::vector<std::string>& wrapper) {
    std::vector<std::string> argv = wrapper;
    for (const std::string& arg : {std::string(VGL_PROXY_BINARY), std::string("--listen"), Proxy(),
                                   std::string("--monitor"), m_Host}) {
        argv.push_back(arg);
    }
    argv.insert(argv.end(), options.begin(), options.end());
    Start(argv);
}

void ServerProcess::Start(const std::vector<std::string>& argv, const std::string& ready) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) return;
    m_Pid = Spawn(argv, -1, pipe[1]);
    close(pipe[1]);
    m_Reader = std::thread([this, fd = pipe[0]] { ReadLog(fd); });
    std::unique_lock lock(m_Mutex);
    m_Changed.wait_for(lock, std::chrono::seconds(10), [this, &ready] {
        return m_bLogEnded || m_Log.find(ready) != std::string::npos;
    });
    m_bStarted = m_Log.find(ready) != std::string::npos;
}

ServerProcess::~ServerProcess() {
    if (m_Pid > 0 && m_Status == -1) Stop(SIGKILL);
    if (m_Reader.joinable()) m_Reader.join();
}

void ServerProcess::ReadLog(int fd) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        std::lock_guard lock(m_Mutex);
        m_Log.append(chunk, static_cast<size_t>(n));
        m_Changed.notify_all();
    }
    close(fd);
    std::lock_guard lock(m_Mutex);
    m_bLogEnded = true;
    m_Changed.notify_all();
}

int ServerProcess::Stop(int signal) {
    if (m_Pid <= 0) return -1;
    kill(m_Pid, signal);
    int status = 0;
    waitpid(m_Pid, &status, 0);
    m_Pid = -1;
    m_Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (m_Reader.joinable()) m_Reader.join();
    return m_Status;
}

std::string ServerProcess::Log() const {
    std::lock_guard lock(m_Mutex);
    return m_Log;
}

bool ServerProcess::WaitForLog(const std::string& text, size_t count, int timeoutMs) const {
    const auto occurrences = [&] {
        size_t found = 0;
        for (size_t at = m_Log.find(text); at != std::string::npos; at = m_Log.find(text, at + 1))
            ++found;
        return found;
    };
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return occurrences() >= count || m_bLogEnded;
    }) && occurrences() >= count;
}

size_t ServerProcess::RssKiB() const {
    std::ifstream status("/proc/" + std::to_string(m_Pid) + "/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            size_t kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

namespace {

std::string Header(size_t bodySize) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bodySize) +
           "\r\nConnection: close\r\n\r\n";
}

}  // namespace

size_t LocalHttpServer::ReplyBytes(size_t bodySize) {
    return Header(bodySize).size() + bodySize;
}

std::string LocalHttpServer::Body(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
    return body;
}

LocalHttpServer::LocalHttpServer(const std::string& host, uint16_t port) {
    m_ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(m_ListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = LoopbackAddress(host, port);
    socklen_t length = sizeof address;
    if (bind(m_ListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_ListenFd, 64) != 0) {
        return;
    }
    getsockname(m_ListenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_Port = ntohs(address.sin_port);
    if (pipe2(m_StopPipe, O_CLOEXEC) != 0) return;
    m_Thread = std::thread([this] { Run(); });
}

LocalHttpServer::~LocalHttpServer() {
    if (m_StopPipe[1] >= 0 && write(m_StopPipe[1], "x", 1) < 0) {
    }
    if (m_Thread.joinable()) m_Thread.join();
    for (int fd : {m_ListenFd, m_StopPipe[0], m_StopPipe[1]}) {
        if (fd >= 0) close(fd);
    }
}

void LocalHttpServer::Run() {
    for (;;) {
        pollfd fds[2] = {{m_ListenFd, POLLIN, 0}, {m_StopPipe[0], POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents) return;
        const int client = accept4(m_ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::string request;
        char chunk[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            request.append(chunk, static_cast<size_t>(n));
        }
        m_LastRequestBytes = request.size();
        size_t size = 0;
        if (request.rfind("GET /", 0) == 0) size = std::strtoull(request.c_str() + 5, nullptr, 10);
        const std::string reply = Header(size) + Body(size);
        for (size_t done = 0; done < reply.size();) {
            const ssize_t n = send(client, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(client);
    }
}

RawClient::RawClient(const std::string& host, uint16_t port, const std::string& source) {
    m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!source.empty()) {
        const sockaddr_in from = LoopbackAddress(source, 0);
        bind(m_Fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
    const sockaddr_in to = LoopbackAddress(host, port);
    if (connect(m_Fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        close(m_Fd);
        m_Fd = -1;
    }
}

RawClient::~RawClient() {
    if (m_Fd >= 0) close(m_Fd);
}

bool RawClient::Send(const Bytes& bytes) {
    return send(m_Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

void RawClient::ShutdownSend() {
    shutdown(m_Fd, SHUT_WR);
}

Bytes RawClient::Read(size_t size, int timeoutMs) {
    Bytes bytes;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < size) {
        pollfd fd{m_Fd, POLLIN, 0};
        if (poll(&fd, 1, RemainingMs(end)) <= 0) break;
        uint8_t chunk[4096];
        const ssize_t n = recv(m_Fd, chunk, std::min(sizeof chunk, size - bytes.size()), 0);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

bool RawClient::Closed(int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd fd{m_Fd, POLLIN, 0};
        if (poll(&fd, 1, RemainingMs(end)) <= 0) return false;
        uint8_t chunk[4096];
        const ssize_t n = recv(m_Fd, chunk, sizeof chunk, 0);
        if (n <= 0) return true;
    }
}

ProgramResult RunProgram(const std::vector<std::string>& argv) {
    ProgramResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
    const pid_t pid = Spawn(argv, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.m_Out, &result.m_Err};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                sinks[i]->append(chunk, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.m_Status = WEXITSTATUS(status);
    }
    return result;
}

std::vector<MonitorRecord> AskForBatch(RawClient& monitor) {
    std::vector<MonitorRecord> records;
    if (!monitor.Send({0x00, 0x01, 0x00})) return records;
    for (;;) {
        const Bytes length = monitor.Read(2);
        if (length.size() != 2) return records;
        const uint16_t size = static_cast<uint16_t>(length[0] << 8 | length[1]);
        if (size == 0) return records;
        const Bytes body = monitor.Read(size);
        MonitorRecord record{};
        EXPECT_EQ(Mon_Decode(size, body.data(), &record), 0);
        records.push_back(record);
    }
}

ProgramResult RunCurl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {CURL_BINARY, "--silent", "--show-error", "--max-time", "60"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv);
}

Bytes ConnectByName(const std::string& name, uint16_t port) {
    Bytes request(5 + name.size() + 2);
    request[0] = 0x05;
    request[1] = 0x01;
    request[3] = 0x03;
    request[4] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), request.begin() + 5);
    request.resize(5 + name.size());
    request.push_back(static_cast<uint8_t>(port >> 8));
    request.push_back(static_cast<uint8_t>(port));
    return request;
}

Bytes Login(const std::string& user, const std::string& password) {
    Bytes login;
    login.push_back(0x01);
    login.push_back(static_cast<uint8_t>(user.size()));
    for (const char c : user) login.push_back(static_cast<uint8_t>(c));
    login.push_back(static_cast<uint8_t>(password.size()));
    for (const char c : password) login.push_back(static_cast<uint8_t>(c));
    return login;
}

namespace {

bool Run(const std::vector<std::string>& argv) {
    return RunProgram(argv).m_Status == 0;
}

}  // namespace

NamespacePair::NamespacePair() {
    const std::string id = std::to_string(getpid());
    m_Proxy = "vglp" + id;
    m_Client = "vglc" + id;
    const std::string ip = "/usr/sbin/ip";
    m_bReady = Run({ip, "netns", "add", m_Proxy}) && Run({ip, "netns", "add", m_Client}) &&
               Run({ip, "link", "add", "vp" + id, "netns", m_Proxy, "type", "veth", "peer", "name",
                    "vc" + id, "netns", m_Client}) &&
               Run({ip, "-n", m_Proxy, "addr", "add", std::string(ProxyAddress) + "/24", "dev",
                    "vp" + id}) &&
               Run({ip, "-n", m_Client, "addr", "add", std::string(ClientAddress) + "/24", "dev",
                    "vc" + id}) &&
               Run({ip, "-n", m_Proxy, "link", "set", "vp" + id, "up"}) &&
               Run({ip, "-n", m_Client, "link", "set", "vc" + id, "up"}) &&
               Run({ip, "-n", m_Proxy, "link", "set", "lo", "up"}) &&
               Run({ip, "-n", m_Client, "link", "set", "lo", "up"});
}

NamespacePair::~NamespacePair() {
    Run({"/usr/sbin/ip", "netns", "delete", m_Proxy});
    Run({"/usr/sbin/ip", "netns", "delete", m_Client});
}

bool NamespacePair::Enter(const std::string& name) {
    const int fd = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) close(fd);
    return entered;
}

Bytes ConnectRequest(const std::string& ipv4, uint16_t port, uint8_t command) {
    in_addr address{};
    inet_pton(AF_INET, ipv4.c_str(), &address);
    const auto* a = reinterpret_cast<const uint8_t*>(&address.s_addr);
    return {0x05,
            command,
            0x00,
            0x01,
            a[0],
            a[1],
            a[2],
            a[3],
            static_cast<uint8_t>(port >> 8),
            static_cast<uint8_t>(port)};
}

std::string WriteFile(const std::string& content) {
    char path[] = "/tmp/vgl-proxy-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) {
        if (write(fd, content.data(), content.size()) < 0) path[0] = '\0';
        close(fd);
    }
    return path;
}

std::string Shell(const std::string& command) {
    return RunProgram({"/bin/sh", "-c", command}).m_Out;
}

ClientIdentity MakeClientIdentity(const std::string& folder, const std::string& name) {
    ClientIdentity id{folder + "/" + name + ".key", folder + "/" + name + ".crt", ""};
    Shell("mkdir -p " + folder +
          " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
          "-subj /CN=" +
          name + " -keyout " + id.m_Key + " -out " + id.m_Cert + " 2>/dev/null");
    id.m_Fingerprint = "SHA256:" + Shell("openssl x509 -in " + id.m_Cert +
                                         " -outform der | openssl dgst -sha256 -binary | base64 "
                                         "| tr -d '=\\n'");
    return id;
}
