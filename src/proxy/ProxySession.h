#pragma once
// One client of the proxy, from its greeting to its close: method choice,
// user name and password, the request, the connection to the destination and
// the relay between the two. All of it runs on one I/O thread.

#include <memory>
#include <string>

#include "Asio.h"
#include "ConnectionInfo.h"
#include "ProxyContext.h"
#include "Watchdog.h"

class SplicePipe;

class ProxySession : public std::enable_shared_from_this<ProxySession> {
public:
    // The socket's executor must run on one thread (or be a strand).
    ProxySession(ProxyContext& context, tcp::socket client);
    ~ProxySession();
    static void Start(std::shared_ptr<ProxySession> session);

private:
    enum class Phase { Handshake, Connecting, Relaying };
    struct Request;

    // The coroutines hold the session alive through their parameter.
    awaitable<void> Run(std::shared_ptr<ProxySession> self);
    awaitable<void> Watch(std::shared_ptr<ProxySession> self);
    awaitable<bool> Negotiate();
    awaitable<bool> Authenticate();
    awaitable<bool> ReadRequest(Request& request);
    awaitable<void> Serve(const Request& request);
    awaitable<bool> Connect(const Request& request);
    awaitable<void> Relay();
    awaitable<void> Pump(tcp::socket& from, tcp::socket& to, std::atomic<uint64_t>& counter);
    awaitable<bool> Splice(SplicePipe& pipe, tcp::socket& from, tcp::socket& to,
                           std::atomic<uint64_t>& counter, std::error_code& error);
    awaitable<bool> Copy(tcp::socket& from, tcp::socket& to, std::atomic<uint64_t>& counter,
                         std::error_code& error);
    awaitable<bool> ReadExactly(void* data, size_t size);
    awaitable<void> Reply(uint8_t code, const tcp::endpoint* bound = nullptr);
    void Fail(uint8_t code);
    void OnExpire();
    void CloseBoth();
    Clock::time_point Deadline() const;
    void LogEnd() const;

    ProxyContext& m_Context;
    tcp::socket m_Client;
    tcp::socket m_Remote;
    Watchdog m_Watchdog;
    tcp::endpoint m_ClientEndpoint;
    std::shared_ptr<ConnectionInfo> m_Info;  // set once the hub knows the connection
    std::string m_User;
    std::string m_Dest;     // as the log shows it
    std::string m_Outcome;  // as the log shows it
    Phase m_Phase = Phase::Handshake;
    Clock::time_point m_Start;
    Clock::time_point m_PhaseDeadline;
    Clock::time_point m_LastActivity;
    bool m_bTimedOut = false;
};
