#pragma once
// A tunnel to a monitor through the system's ssh client:
//   ssh -N -L 127.0.0.1:LOCAL:MONITOR-HOST:PORT [-p SSHPORT] [USER@]HOST
// with BatchMode=yes and ExitOnForwardFailure=yes, so that it never asks
// for anything and fails when the forward cannot be made; the user's own
// keys, agent and ~/.ssh/config apply. Start returns once the local port
// accepts connections or ssh has ended (its last line of error output is
// then the message). The tunnel ends with the object.

#include <cstdint>
#include <memory>
#include <string>

struct MonHostForm;
class MonStderrTail;

class MonSshTunnel {
public:
    MonSshTunnel();
    ~MonSshTunnel();  // ends ssh and waits for it
    MonSshTunnel(const MonSshTunnel&) = delete;
    MonSshTunnel& operator=(const MonSshTunnel&) = delete;

    // Waits at most `timeoutMs` for the forward. False with ssh's message.
    // Gives up as soon as the thread's connect watcher (Mon_TcpWatchConnects)
    // does, so that a session cancelled meanwhile does not wait for it.
    bool Start(const MonHostForm& form, int timeoutMs, std::string& error);
    void Stop();
    uint16_t LocalPort() const { return m_LocalPort; }
    bool IsRunning() const;
    // ssh's last line of error output ("ssh: ..."), empty if it gave none:
    // why a tunnel that was running has ended.
    std::string LastError() const;

    // The ssh program to run (tests point it at the system's own with extra
    // options through a wrapper); "ssh" from PATH unless set.
    static void SetProgram(const std::string& program);

private:
    enum class Outcome { Ready, Ended, TimedOut, GivenUp };
    bool Launch(const MonHostForm& form, int timeoutMs, std::string& error);
    Outcome WaitForForward(int timeoutMs, std::string& error);
    bool HasEnded(std::string* how = nullptr) const;
    void EndProcess();

    int m_Pid = -1;  // reaped only by Stop, so that it never names another process
    uint16_t m_LocalPort = 0;
    std::unique_ptr<MonStderrTail> m_Stderr;
};
