#include "core/monitor/MonSshTunnel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonStderrTail.h"
#include "core/monitor/MonTcp.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ProbeIntervalMs = 20;
constexpr int ProbeConnectMs = 100;
constexpr int LastOutputMs = 500;  // for ssh's last words once it has ended
constexpr int TermGraceMs = 2000;
constexpr int ReapPollMs = 10;
constexpr const char* PortTaken = "Address already in use";

std::mutex g_ProgramMutex;
std::string g_Program = "ssh";

std::string Program() {
    std::lock_guard lock(g_ProgramMutex);
    return g_Program;
}

std::string Errno(int code) {
    return std::strerror(code);
}

int64_t MsUntil(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Every name given to ssh is one word that ssh cannot take for an option.
bool CheckName(const char* what, const std::string& name, std::string& error) {
    if (!name.empty() && name.front() == '-') {
        error = std::string("ssh: the ") + what + " \"" + name +
                "\" begins with '-', which ssh would read as an option";
        return false;
    }
    const bool plain = std::none_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == 0x7f;
    });
    if (!plain) {
        error = std::string("ssh: the ") + what + " \"" + name +
                "\" contains a blank or control character";
        return false;
    }
    return true;
}

bool CheckForm(const MonHostForm& form, std::string& error) {
    if (form.m_Route != MonRoute::Ssh) {
        error = "ssh: not an ssh:// host";
        return false;
    }
    if (form.m_SshHost.empty()) {
        error = "ssh: no host to connect to";
        return false;
    }
    return CheckName("host", form.m_SshHost, error) && CheckName("user", form.m_SshUser, error) &&
           CheckName("monitor host", form.m_Host, error);
}

std::string Destination(const MonHostForm& form) {
    std::string text =
        form.m_SshUser.empty() ? form.m_SshHost : form.m_SshUser + "@" + form.m_SshHost;
    if (form.m_SshPort != 0) {
        text += " port " + std::to_string(form.m_SshPort);
    }
    return text;
}

std::string ForwardArgument(uint16_t localPort, const MonHostForm& form) {
    std::string host = form.m_Host.empty() ? "127.0.0.1" : form.m_Host;
    if (host.find(':') != std::string::npos && host.front() != '[') {
        host = "[" + host + "]";
    }
    return "127.0.0.1:" + std::to_string(localPort) + ":" + host + ":" +
           std::to_string(form.m_Port);
}

std::vector<std::string> Arguments(const std::string& program, const MonHostForm& form,
                                   uint16_t localPort, int timeoutMs) {
    const int seconds = std::max(1, (timeoutMs + 999) / 1000);
    std::vector<std::string> args = {program, "-N", "-L", ForwardArgument(localPort, form)};
    const std::string options[] = {"BatchMode=yes", "ExitOnForwardFailure=yes",
                                   "ConnectTimeout=" + std::to_string(seconds),
                                   // No connection shared with another ssh, nor one a master keeps
                                   // in the background: the forward must end with this process.
                                   "ControlPath=none"};
    for (const std::string& option : options) {
        args.insert(args.end(), {"-o", option});
    }
    if (form.m_SshPort != 0) {
        args.insert(args.end(), {"-p", std::to_string(form.m_SshPort)});
    }
    if (!form.m_SshUser.empty()) {
        args.insert(args.end(), {"-l", form.m_SshUser});
    }
    args.insert(args.end(), {"--", form.m_SshHost});
    return args;
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A port that is free now; ssh may still lose it to another program before
// it binds, which Start then meets with a second port.
bool PickLocalPort(uint16_t& port, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t size = sizeof addr;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0;
    const int code = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!ok) {
        error = "ssh: no free local port for the tunnel: " + Errno(code);
        return false;
    }
    port = ntohs(addr.sin_port);
    return true;
}

// Whether ssh listens on the local port yet. The connection is closed at
// once; ssh then drops the channel it opened for it.
bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in addr = Loopback(port);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd pfd{fd, POLLOUT, 0};
        int soError = 0;
        socklen_t size = sizeof soError;
        connected = ::poll(&pfd, 1, ProbeConnectMs) == 1 &&
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) == 0 && soError == 0;
    }
    ::close(fd);
    return connected;
}

// ssh's own lines mostly begin with "ssh: " already; the others get it.
// A host ssh does not know yet cannot be accepted here, as ssh may ask
// nothing: the user is told where to accept it.
std::string AsSshMessage(const std::string& line) {
    std::string text = line.rfind("ssh: ", 0) == 0 ? line : "ssh: " + line;
    if (line == "Host key verification failed.") {
        text += " Accept the host's key by running ssh to it once in a terminal.";
    }
    return text;
}

std::string TimeOutMessage(const MonHostForm& form, int timeoutMs, const std::string& said) {
    std::string text = "ssh: no tunnel to " + Destination(form) + " within " +
                       std::to_string((timeoutMs + 999) / 1000) + " s";
    return said.empty() ? text : text + " (ssh said: " + said + ")";
}

std::string DescribeEnd(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) {
        return "ssh ended with status " + std::to_string(info.si_status);
    }
    return "ssh was ended by signal " + std::to_string(info.si_status) + " (" +
           ::strsignal(info.si_status) + ")";
}

// ssh in a process of its own: no terminal input, error output to the pipe,
// no descriptor of ours, and signals as a freshly started program has them
// (this process may ignore SIGPIPE, its threads may block signals).
bool Spawn(const std::vector<std::string>& args, int stderrFd, int& pid, std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    ::posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    const int rc = ::posix_spawnp(&child, argv[0], &actions, &attr, argv.data(), environ);
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = "ssh: cannot run the program \"" + args[0] + "\": " + Errno(rc);
        return false;
    }
    pid = child;
    return true;
}

}  // namespace

MonSshTunnel::MonSshTunnel() = default;

MonSshTunnel::~MonSshTunnel() {
    Stop();
}

bool MonSshTunnel::Start(const MonHostForm& form, int timeoutMs, std::string& error) {
    Stop();
    if (!CheckForm(form, error)) {
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The port can be taken between our look and ssh's bind; one more
    // port then, as a second loss is no longer chance.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!Launch(form, timeoutMs, error)) {
            return false;
        }
        const int remainingMs = static_cast<int>(std::max<int64_t>(0, MsUntil(deadline)));
        const Outcome outcome = WaitForForward(remainingMs, error);
        if (outcome == Outcome::Ready) {
            return true;
        }
        if (outcome == Outcome::TimedOut) {
            error = TimeOutMessage(form, timeoutMs, m_Stderr->LastLine());
        }
        const bool portTaken = outcome == Outcome::Ended && m_Stderr->Contains(PortTaken);
        Stop();
        if (!portTaken || MsUntil(deadline) <= 0) {
            return false;
        }
    }
    return false;
}

bool MonSshTunnel::Launch(const MonHostForm& form, int timeoutMs, std::string& error) {
    uint16_t port = 0;
    if (!PickLocalPort(port, error)) {
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = "ssh: cannot make a pipe for its error output: " + Errno(errno);
        return false;
    }
    const bool spawned = Spawn(Arguments(Program(), form, port, timeoutMs), fds[1], m_Pid, error);
    ::close(fds[1]);
    if (!spawned) {
        ::close(fds[0]);
        return false;
    }
    m_LocalPort = port;
    if (!m_Stderr) {
        m_Stderr = std::make_unique<MonStderrTail>();
    }
    if (!m_Stderr->Start(fds[0], error)) {
        Stop();
        return false;
    }
    return true;
}

MonSshTunnel::Outcome MonSshTunnel::WaitForForward(int timeoutMs, std::string& error) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string how;
        if (HasEnded(&how)) {
            m_Stderr->WaitForEnd(LastOutputMs);
            const std::string said = LastError();
            error = said.empty() ? how : said;
            return Outcome::Ended;
        }
        if (Accepts(m_LocalPort)) {
            return Outcome::Ready;
        }
        if (!Mon_TcpConnectWanted()) {
            error = "ssh: the connect was given up before the tunnel was ready";
            return Outcome::GivenUp;
        }
        if (MsUntil(deadline) <= 0) {
            return Outcome::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ProbeIntervalMs));
    }
}

void MonSshTunnel::Stop() {
    if (m_Pid > 0) {
        EndProcess();
        m_Pid = -1;
    }
    if (m_Stderr) {
        m_Stderr->Stop();  // what ssh said is kept for LastError
    }
    m_LocalPort = 0;
}

// An ended ssh stays a zombie until Stop reaps it (WNOWAIT): its process id
// cannot be given to another process that Stop would then signal. A child
// that cannot be waited for (SIGCHLD ignored: reaped by the system) has ended.
bool MonSshTunnel::HasEnded(std::string* how) const {
    siginfo_t info{};
    int rc = 0;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(m_Pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (how != nullptr) {
            *how = "ssh ended";
        }
        return true;
    }
    if (info.si_pid == 0) {
        return false;
    }
    if (how != nullptr) {
        *how = DescribeEnd(info);
    }
    return true;
}

void MonSshTunnel::EndProcess() {
    if (!HasEnded()) {
        ::kill(m_Pid, SIGTERM);
        const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(TermGraceMs);
        while (!HasEnded() && MsUntil(giveUp) > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ReapPollMs));
        }
        if (!HasEnded()) {
            ::kill(m_Pid, SIGKILL);
        }
    }
    while (::waitpid(m_Pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool MonSshTunnel::IsRunning() const {
    return m_Pid > 0 && !HasEnded();
}

std::string MonSshTunnel::LastError() const {
    const std::string line = m_Stderr ? m_Stderr->LastLine() : std::string();
    return line.empty() ? line : AsSshMessage(line);
}

void MonSshTunnel::SetProgram(const std::string& program) {
    std::lock_guard lock(g_ProgramMutex);
    g_Program = program.empty() ? "ssh" : program;
}
