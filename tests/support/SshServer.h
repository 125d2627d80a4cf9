#pragma once
// A real sshd for tests, run as the current user on a random loopback
// address and port, with keys of its own in a temporary folder that goes
// with the object. It lets in one user key; ClientProgram() gives a wrapper
// around the system's ssh that uses that key (or one sshd does not know)
// and a known-hosts file of the folder, so nothing of the user's ~/.ssh is
// read or written.
//
// Typical use:
//   SshServer server;
//   if (!server.IsUp()) GTEST_SKIP() << server.Failure();
//   MonSshTunnel::SetProgram(server.ClientProgram());
//   ...form.m_SshHost = server.Host(); form.m_SshPort = server.Port();

#include <cstdint>
#include <string>

class SshServer {
public:
    SshServer();  // starts sshd and checks that the user key logs in
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // False when sshd could not be run here; Failure() says why.
    bool IsUp() const { return m_Pid > 0; }
    const std::string& Failure() const { return m_Failure; }

    const std::string& Host() const { return m_Host; }  // "127.x.y.z"
    uint16_t Port() const { return m_Port; }
    const std::string& User() const { return m_User; }
    // "ssh://HOST:PORT/MONITOR-HOST:MONITOR-PORT" through this server.
    std::string HostForm(const std::string& monitorHost, uint16_t monitorPort) const;

    enum class Key { Authorized, Stranger };
    // An executable that runs the system's ssh with this server's client
    // settings and then the arguments it is given.
    std::string ClientProgram(Key key = Key::Authorized) const;
    std::string Log() const;  // what sshd has written

private:
    bool Prepare();
    bool MakeKeys();
    bool WriteClientFiles();
    bool Launch();
    bool CanLogIn();
    void Fail(const std::string& reason);
    std::string Path(const std::string& name) const { return m_Dir + "/" + name; }

    std::string m_Dir;
    std::string m_Host;
    uint16_t m_Port = 0;
    std::string m_User;
    std::string m_Failure;
    int m_Pid = -1;
};
