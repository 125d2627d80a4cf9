#pragma once
// A real danted for the monitor's tests, on a loopback address of its own
// (SOCKS5 on port 1080 there, the same address outside), writing its log
// to a file of a temporary folder with "log: connect disconnect error".
// Clients may log in as the system user DantedServer::User (made when
// missing, which needs root) or come without a login. One block rule:
// connects to BlockedPort are refused by it.

#include <sys/types.h>

#include <string>

class DantedServer {
public:
    static constexpr const char* User = "vglmonitortest";
    static constexpr const char* Password = "Dante-test-1";
    static constexpr uint16_t Port = 1080;
    static constexpr uint16_t BlockedPort = 9;

    explicit DantedServer(const std::string& host);
    ~DantedServer();
    DantedServer(const DantedServer&) = delete;
    DantedServer& operator=(const DantedServer&) = delete;

    // Empty when it runs; else why not (a test skips on it).
    const std::string& Problem() const { return m_Problem; }
    const std::string& Host() const { return m_Host; }
    std::string Proxy() const { return m_Host + ":" + std::to_string(Port); }
    const std::string& LogPath() const { return m_LogPath; }
    // As logrotate does: the log renamed to LOG.1, then SIGHUP, and Dante
    // writes a new file; true once it has.
    bool Rotate();

private:
    std::string m_Host, m_Folder, m_LogPath, m_PidPath, m_Problem;
    pid_t m_Pid = -1;
};
