#pragma once
// Port 5051 of a random loopback address 127.x.y.z whose listener never
// accepts and whose backlog is full, so that a connect to it hangs until
// its time-out: a monitor host that cannot be reached in time.

#include <string>
#include <vector>

class HangingListener {
public:
    HangingListener();  // throws std::runtime_error when no address can be bound or filled
    ~HangingListener();
    HangingListener(const HangingListener&) = delete;
    HangingListener& operator=(const HangingListener&) = delete;

    const std::string& Host() const { return m_Host; }

private:
    int m_ListenFd = -1;
    std::vector<int> m_Fillers;  // connects that took the backlog
    std::string m_Host;
};
