#include "support/SshServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr const char* Sshd = "/usr/sbin/sshd";
constexpr int LaunchAttempts = 10;
constexpr int ListenWaitMs = 10000;
constexpr int PollMs = 10;

// The program with its output appended to `logFile`; its pid, or -1.
pid_t SpawnLogged(const std::vector<std::string>& args, const std::string& logFile) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int Wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Exit status of the program, -1 when it could not run or was killed.
int Run(const std::vector<std::string>& args, const std::string& logFile) {
    const pid_t pid = SpawnLogged(args, logFile);
    return pid > 0 ? Wait(pid) : -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    return out && ::chmod(path.c_str(), mode) == 0;
}

std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) {
        return "(no output)";
    }
    const size_t newline = text.rfind('\n', end);
    return text.substr(newline == std::string::npos ? 0 : newline + 1, end + 1 - (newline + 1));
}

// A loopback address other than 127.0.0.1 (a real sshd may be there) and a
// port on it that is free now.
bool PickAddress(std::mt19937& random, std::string& host, uint16_t& port) {
    const uint32_t b = random() % 256, c = random() % 256, d = 2 + random() % 253;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl((127u << 24) | (b << 16) | (c << 8) | d);
    socklen_t size = sizeof addr;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    host = "127." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
    port = ntohs(addr.sin_port);
    return ok;
}

}  // namespace

SshServer::SshServer() {
    if (Prepare() && MakeKeys() && WriteClientFiles() && Launch()) {
        CanLogIn();
    }
}

SshServer::~SshServer() {
    if (m_Pid > 0) {
        ::kill(m_Pid, SIGTERM);
        Wait(m_Pid);
    }
    if (!m_Dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_Dir, ignored);
    }
}

std::string SshServer::HostForm(const std::string& monitorHost, uint16_t monitorPort) const {
    const std::string host =
        monitorHost.find(':') != std::string::npos ? "[" + monitorHost + "]" : monitorHost;
    return "ssh://" + m_Host + ":" + std::to_string(m_Port) + "/" + host + ":" +
           std::to_string(monitorPort);
}

std::string SshServer::ClientProgram(Key key) const {
    return Path(key == Key::Authorized ? "ssh-authorized" : "ssh-stranger");
}

std::string SshServer::Log() const {
    return ReadFile(Path("sshd.log"));
}

void SshServer::Fail(const std::string& reason) {
    m_Failure = "sshd for the test: " + reason;
}

bool SshServer::Prepare() {
    if (::access(Sshd, X_OK) != 0) {
        Fail(std::string(Sshd) + " cannot be run: " + std::strerror(errno));
        return false;
    }
    const passwd* account = ::getpwuid(::geteuid());
    if (account == nullptr) {
        Fail("the current user has no account entry");
        return false;
    }
    m_User = account->pw_name;
    // sshd run by root insists on its privilege separation folder, which the
    // system's service would otherwise make when it starts.
    if (::geteuid() == 0 && ::mkdir("/run/sshd", 0755) != 0 && errno != EEXIST) {
        Fail(std::string("cannot make /run/sshd: ") + std::strerror(errno));
        return false;
    }
    char pattern[] = "/tmp/vgl-sshd-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        Fail(std::string("no temporary folder: ") + std::strerror(errno));
        return false;
    }
    m_Dir = pattern;
    return true;
}

bool SshServer::MakeKeys() {
    for (const char* name : {"host_key", "user_key", "stranger_key"}) {
        if (Run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "vgl-test", "-f", Path(name)},
                Path("keygen.log")) != 0) {
            Fail("ssh-keygen failed: " + LastLine(ReadFile(Path("keygen.log"))));
            return false;
        }
    }
    return WriteFile(Path("authorized_keys"), ReadFile(Path("user_key.pub")), 0600);
}

bool SshServer::WriteClientFiles() {
    for (const char* key : {"user_key", "stranger_key"}) {
        const std::string config = Path(std::string("ssh_config.") + key);
        const std::string text =
            "Host *\n"
            "    UserKnownHostsFile " +
            Path("known_hosts") +
            "\n"
            "    GlobalKnownHostsFile /dev/null\n"
            "    StrictHostKeyChecking accept-new\n"
            "    IdentityFile " +
            Path(key) +
            "\n"
            "    IdentitiesOnly yes\n"
            "    IdentityAgent none\n"
            "    PasswordAuthentication no\n"
            "    KbdInteractiveAuthentication no\n";
        const std::string program =
            ClientProgram(std::string(key) == "user_key" ? Key::Authorized : Key::Stranger);
        if (!WriteFile(config, text, 0600) ||
            !WriteFile(program, "#!/bin/sh\nexec ssh -F '" + config + "' \"$@\"\n", 0700)) {
            Fail("cannot write the client files in " + m_Dir);
            return false;
        }
    }
    return true;
}

bool SshServer::Launch() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < LaunchAttempts; ++attempt) {
        if (!PickAddress(random, m_Host, m_Port)) {
            continue;
        }
        const std::string config = "ListenAddress " + m_Host + ":" + std::to_string(m_Port) +
                                   "\nHostKey " + Path("host_key") + "\nAuthorizedKeysFile " +
                                   Path("authorized_keys") + "\nPidFile " + Path("sshd.pid") +
                                   "\nStrictModes no\nUsePAM no\nPasswordAuthentication no"
                                   "\nKbdInteractiveAuthentication no\nPubkeyAuthentication yes"
                                   "\nPermitRootLogin prohibit-password\nAllowTcpForwarding yes\n";
        if (!WriteFile(Path("sshd_config"), config, 0600)) {
            Fail("cannot write " + Path("sshd_config"));
            return false;
        }
        const pid_t pid =
            SpawnLogged({Sshd, "-D", "-e", "-f", Path("sshd_config")}, Path("sshd.log"));
        if (pid < 0) {
            Fail(std::string("cannot start ") + Sshd);
            return false;
        }
        for (int waited = 0; waited < ListenWaitMs; waited += PollMs) {
            if (Log().find("Server listening on") != std::string::npos) {
                m_Pid = pid;
                return true;
            }
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(PollMs));
        }
        if (::waitpid(pid, nullptr, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            Wait(pid);
        }
        const std::string log = Log();
        if (log.find("Address already in use") == std::string::npos) {
            Fail("sshd did not start: " + LastLine(log));
            return false;
        }
    }
    Fail("no free loopback address and port for sshd");
    return false;
}

bool SshServer::CanLogIn() {
    if (Run({ClientProgram(), "-o", "BatchMode=yes", "-p", std::to_string(m_Port), "--", m_Host,
             "true"},
            Path("login.log")) == 0) {
        return true;
    }
    Fail("the test key does not log in: " + LastLine(ReadFile(Path("login.log"))) +
         "; sshd: " + LastLine(Log()));
    ::kill(m_Pid, SIGTERM);
    Wait(m_Pid);
    m_Pid = -1;
    return false;
}
