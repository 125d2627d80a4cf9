#include "DantedServer.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ProxyHarness.h"

namespace {

// The user Dante checks passwords of, made once per machine.
bool EnsureUser() {
    if (geteuid() != 0) return false;
    const std::string user = DantedServer::User;
    if (RunProgram({"/usr/bin/id", user}).m_Status != 0 &&
        RunProgram({"/usr/sbin/useradd", "-M", "-s", "/usr/sbin/nologin", user}).m_Status != 0) {
        return false;
    }
    return std::system(("echo '" + user + ":" + DantedServer::Password + "' | /usr/sbin/chpasswd")
                           .c_str()) == 0;
}

// Waits, within a bound, for `ready`.
template <class Ready>
bool WaitFor(Ready ready) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

DantedServer::DantedServer(const std::string& host) : m_Host(host) {
    if (!EnsureUser()) {
        m_Problem = "danted's user name method needs a system user, made only as root";
        return;
    }
    char folder[] = "/tmp/vgl-danted-XXXXXX";
    if (!mkdtemp(folder)) return;
    m_Folder = folder;
    m_LogPath = m_Folder + "/danted.log";
    m_PidPath = m_Folder + "/danted.pid";
    const std::string config = m_Folder + "/danted.conf";
    std::ofstream(config) << "logoutput: " << m_LogPath << "\n"
                          << "internal: " << host << " port = " << Port << "\n"
                          << "external: " << host << "\n"
                          << "clientmethod: none\n"
                          << "socksmethod: username none\n"
                          << "user.privileged: root\nuser.unprivileged: nobody\n"
                          << "client pass { from: 0.0.0.0/0 to: 0.0.0.0/0 log: error }\n"
                          << "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 port = " << BlockedPort
                          << " log: connect disconnect error }\n"
                          << "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 "
                             "log: connect disconnect error }\n";
    const ProgramResult started = RunProgram({DANTED_BINARY, "-f", config, "-D", "-p", m_PidPath});
    if (started.m_Status != 0) {
        m_Problem = "danted did not start: " + started.m_Err;
        return;
    }
    WaitFor([this] {
        std::ifstream pid(m_PidPath);
        return bool(pid >> m_Pid);
    });
    if (!WaitFor([this] { return RawClient(m_Host, Port).Connected(); }))
        m_Problem = "danted does not accept on " + Proxy();
}

DantedServer::~DantedServer() {
    if (m_Pid > 0) {
        kill(m_Pid, SIGTERM);
        WaitFor([this] { return kill(m_Pid, 0) != 0; });
    }
    std::error_code ignored;
    if (!m_Folder.empty()) std::filesystem::remove_all(m_Folder, ignored);
}

bool DantedServer::Rotate() {
    std::error_code failed;
    std::filesystem::rename(m_LogPath, m_LogPath + ".1", failed);
    if (failed || kill(m_Pid, SIGHUP) != 0) return false;
    return WaitFor([this] { return std::filesystem::exists(m_LogPath); });
}
