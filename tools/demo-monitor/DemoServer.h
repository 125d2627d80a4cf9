#pragma once
// The monitor's side of the protocol for any number of clients at once: each
// request (the one-byte body 0x00) is answered with the records produced since
// the client's previous request, then the empty message. A client that has
// just connected first gets the connections that are already active.

#include <csignal>
#include <string>
#include <vector>

#include "DemoTraffic.h"

namespace demo {

class DemoServer {
public:
    explicit DemoServer(DemoTraffic& traffic) : m_Traffic(traffic) {}
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // Binds port 5051 of the address; false with a message for the user.
    bool Listen(const std::string& address, std::string& error);
    // Serves until `wakeFd` becomes readable (the signal handler writes to it).
    void Run(int wakeFd);

private:
    struct Client {
        int m_Fd = -1;
        std::string m_Peer;
        Body m_In;                  // bytes received, not yet a whole frame
        Body m_Out;                 // answer bytes not yet written
        std::vector<Body> m_Queue;  // records since the previous request
    };

    void Advance();
    void Accept();
    bool Receive(Client& client);
    bool Flush(Client& client);
    void Answer(Client& client);
    void Drop(size_t index);

    DemoTraffic& m_Traffic;
    int m_ListenFd = -1;
    std::vector<Client> m_Clients;
};

}  // namespace demo
