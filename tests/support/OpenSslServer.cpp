#include "support/OpenSslServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

sockaddr_in AddressOf(const std::string& host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

}  // namespace

OpenSslServer::OpenSslServer(const std::string& pemPath, const std::vector<std::string>& options) {
    PickAddress();
    std::vector<std::string> words = {"openssl", "s_server", "-quiet", "-accept", HostPort(),
                                      "-cert",   pemPath,    "-key",   pemPath};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("OpenSslServer: pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = ::posix_spawnp(&m_Pid, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    m_Stdin = input[1];
    if (spawned != 0) throw std::runtime_error("OpenSslServer: cannot start openssl");
    // Each probe is a connection the server serves and ends at once.
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (Accepts()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    throw std::runtime_error("OpenSslServer: openssl does not accept on " + HostPort());
}

OpenSslServer::~OpenSslServer() {
    Stop();
}

void OpenSslServer::Stop() {
    ::close(m_Stdin);
    m_Stdin = -1;
    if (m_Pid > 0) {
        ::kill(m_Pid, SIGTERM);
        ::waitpid(m_Pid, nullptr, 0);
        m_Pid = -1;
    }
}

void OpenSslServer::Send(const MonBytes& bytes) {
    if (::write(m_Stdin, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("OpenSslServer: cannot write to openssl");
    }
}

// A port the system just gave out on a random 127.x.y.z is free for the
// server to take a moment later.
void OpenSslServer::PickAddress() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    m_Host = "127." + std::to_string(random() % 256) + "." + std::to_string(1 + random() % 254) +
             "." + std::to_string(2 + random() % 253);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = AddressOf(m_Host, 0);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("OpenSslServer: no free port on " + m_Host);
    }
    m_Port = ntohs(address.sin_port);
    ::close(fd);
}

bool OpenSslServer::Accepts() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = AddressOf(m_Host, m_Port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}
