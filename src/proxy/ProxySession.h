#pragma once
// One client of the proxy, from its greeting to its close: method choice,
// user name and password, the request, the connection to the destination and
// the relay between the two. All of it runs on one I/O thread.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "Asio.h"
#include "ConnectionInfo.h"
#include "ProxyContext.h"
#include "SplicePipe.h"
#include "Watchdog.h"

class ProxySession : public std::enable_shared_from_this<ProxySession> {
public:
    // The socket's executor must run on one thread (or be a strand).
    // `endpoint`: the client's address as it was admitted (and counted by the limits).
    ProxySession(ProxyContext& context, tcp::socket client, const tcp::endpoint& endpoint);
    ~ProxySession();
    static void Start(std::shared_ptr<ProxySession> session);
    // On the session's thread: ends the connection as the process stops.
    void ShutDown();
    // On the session's thread: ends it at a monitor client's word, `why` its result.
    void EndByControl(const std::string& why);

private:
    enum class Phase { Handshake, Connecting, Relaying };
    struct Request;

    static void EnterBudget(const std::shared_ptr<ProxySession>& session);
    // On the session's thread: ends a handshake the budget has dropped.
    void Drop();
    // The coroutines hold the session alive through their parameter.
    awaitable<void> Run(std::shared_ptr<ProxySession> self);
    awaitable<void> Watch(std::shared_ptr<ProxySession> self);
    awaitable<bool> Negotiate();
    awaitable<bool> Authenticate();
    awaitable<bool> ReadRequest(Request& request);
    awaitable<void> Serve(const Request& request);
    awaitable<bool> Connect(const Request& request);
    // Both give a SOCKS5 reply code, ReplySucceeded when the connection may go on.
    awaitable<uint8_t> FindEndpoints(const Request& request, std::vector<tcp::endpoint>& endpoints,
                                     std::optional<Refusal>& refusal);
    awaitable<uint8_t> ConnectToAny(const std::vector<tcp::endpoint>& endpoints);
    awaitable<void> Relay();
    // One direction of the relay and what it holds between bursts.
    struct Direction {
        SplicePipe m_Pipe;
        bool m_bWaiting = false;  // for data, with its pipe empty
        bool m_bEnded = false;
    };

    // `counter` is the connection's, `total` that of its user and service.
    awaitable<void> Pump(Direction& direction, tcp::socket& from, tcp::socket& to,
                         std::atomic<uint64_t>& counter, std::atomic<uint64_t>& total);
    // Gives the pipes back once the connection has been idle for a moment.
    awaitable<void> KeepPipes(std::shared_ptr<ProxySession> self);
    awaitable<bool> Splice(SplicePipe& pipe, tcp::socket& from, tcp::socket& to,
                           std::atomic<uint64_t>& counter, std::atomic<uint64_t>& total,
                           std::error_code& error);
    awaitable<bool> Copy(tcp::socket& from, tcp::socket& to, std::atomic<uint64_t>& counter,
                         std::atomic<uint64_t>& total, std::error_code& error);
    awaitable<bool> ReadExactly(void* data, size_t size);
    awaitable<void> Reply(uint8_t code, const tcp::endpoint* bound = nullptr);
    // Writes `data` to the client, at once where it fits.
    awaitable<void> Answer(const uint8_t* data, size_t size, std::error_code& error);
    // The endpoints among `endpoints` the rules let this client reach; the
    // reason of the first refusal in `refusal`.
    std::vector<tcp::endpoint> Permitted(const Request& request,
                                         std::vector<tcp::endpoint> endpoints,
                                         std::optional<Refusal>& refusal) const;
    // True (and the session ends) when the client is the proxy's own
    // connection come back to it.
    bool ComesFromItself();
    void OpenRecord(uint8_t method);
    // The result the monitor gets, and the log's outcome.
    void Fail(uint8_t code);
    void Fail(uint32_t code, const std::string& text);
    void Refuse(const Refusal& refusal);
    // The block that covers the request's user or name, if one does.
    std::optional<Refusal> RefuseByBlock(const Request& request) const;
    // The log's outcome of a client that ends before a request, and its metric.
    void EndHandshake(HandshakeEnd reason, const char* text);
    void OnExpire();
    void CloseBoth();
    Clock::time_point Deadline() const;
    void LogEnd() const;
    void CountEnd() const;

    ProxyContext& m_Context;
    const std::shared_ptr<const ProxySettings> m_Settings;  // as they were at the start
    const ProxyOptions& m_Options;
    tcp::socket m_Client;
    tcp::socket m_Remote;
    Watchdog m_Watchdog;
    tcp::endpoint m_ClientEndpoint;
    Address16 m_ClientAddress{};
    std::shared_ptr<ConnectionInfo> m_Info;  // set once the hub knows the connection
    std::string m_User;                      // as the client sent it
    std::string m_Dest;                      // as the log shows it
    std::string m_DestHost;                  // the request's name or address
    uint16_t m_DestPort = 0;
    std::string m_Outcome;                   // as the log shows it
    std::string m_ResultLabel;  // the metrics' label of the CONNECT's reply; empty before one
    HandshakeEnd m_HandshakeEnd = HandshakeEnd::Malformed;  // counted when there is no reply
    ProxyMetrics::Traffic* m_pTraffic = nullptr;
    Phase m_Phase = Phase::Handshake;
    Clock::time_point m_Start;
    Clock::time_point m_PhaseDeadline;
    Clock::time_point m_LastActivity;
    bool m_bTimedOut = false;
    bool m_bInHandshake = true;  // counted as such by the per-client limits
    bool m_bShutDown = false;
    bool m_bRefused = false;  // a refusal, not a failed handshake
    std::string m_ControlEnd;  // why a monitor client ended it; its result is reported then
    bool m_bDropped = false;  // by the handshake budget
    uint64_t m_HandshakeTicket = 0;
    bool m_bOwnAdded = false;  // m_Remote's ends are in the context's own connections
    tcp::endpoint m_OwnLocal, m_OwnRemote;  // m_OwnRemote: the endpoint connected to
    // The client's bytes read ahead of the handshake's parts (ReadExactly);
    // any left after the request go to the destination first.
    std::array<uint8_t, 512> m_Received;
    size_t m_ReceivedAt = 0, m_ReceivedEnd = 0;
    Direction m_Directions[2];  // client to destination, destination to client
    asio::steady_timer m_PipeKeeper;
    bool m_bKeepingPipes = false;
};
