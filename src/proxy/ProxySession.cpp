#include "ProxySession.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ServiceName.h"
#include "SocksReply.h"
#include "SplicePipe.h"

using namespace asio::experimental::awaitable_operators;

namespace {

constexpr uint8_t SocksVersion = 0x05;
constexpr uint8_t MethodNone = 0x00;
constexpr uint8_t MethodPassword = 0x02;
constexpr uint8_t MethodUnacceptable = 0xFF;
constexpr uint8_t PasswordVersion = 0x01;
constexpr uint8_t CommandConnect = 0x01;
constexpr uint8_t TypeV4 = 0x01;
constexpr uint8_t TypeDomain = 0x03;
constexpr uint8_t TypeV6 = 0x04;
// Only used when no splice pipe can be had; it exists only while data flows.
constexpr size_t RelayBufferSize = 64 * 1024;
constexpr size_t SmallBurst = 16 * 1024;

// Destinations no client has a reason to reach through a proxy: port 0, the
// unspecified address (which Linux takes for this host), multicast, broadcast.
bool IsForbidden(const tcp::endpoint& endpoint) {
    const asio::ip::address address = Unmapped(endpoint.address());
    return endpoint.port() == 0 || address.is_unspecified() || address.is_multicast() ||
           (address.is_v4() && address.to_v4() == asio::ip::address_v4::broadcast());
}

// Client-supplied text as the monitor shows it: one line, printable.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '"') c = '?';
    }
    return text;
}

// Whether `socket` has bytes to read, without taking any: false with eof in
// `error` at the end of the stream, false alone when it has nothing yet.
bool Peek(tcp::socket& socket, std::error_code& error) {
    uint8_t byte = 0;
    const ssize_t size = recv(socket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (size > 0) return true;
    if (size == 0) {
        error = asio::error::eof;
    } else if (errno != EAGAIN && errno != EINTR) {
        error = std::error_code(errno, asio::error::get_system_category());
    }
    return false;
}

}  // namespace

struct ProxySession::Request {
    uint8_t m_Command = 0;
    bool m_bDomain = false;
    std::string m_Host;  // the name, or the address as text
    asio::ip::address m_Address;
    uint16_t m_Port = 0;
};

ProxySession::ProxySession(ProxyContext& context, tcp::socket client, const tcp::endpoint& endpoint)
    : m_Context(context),
      m_Settings(context.Settings()),
      m_Options(m_Settings->m_Options),
      m_Client(std::move(client)),
      m_Remote(m_Client.get_executor()),
      m_Watchdog(m_Client.get_executor()),
      m_Start(Clock::now()),
      m_PipeKeeper(m_Client.get_executor()) {
    m_ClientEndpoint = endpoint;
    m_ClientAddress = ToAddress16(m_ClientEndpoint.address());
    // Greeting, authentication and request together; never longer than an idle period.
    m_PhaseDeadline = m_Start + std::chrono::seconds(std::min(m_Options.m_HandshakeTimeout,
                                                              m_Options.m_IdleTimeout));
    m_LastActivity = m_Start;
}

ProxySession::~ProxySession() {
    m_Context.m_Sessions.Remove(this);
    if (m_bOwnAdded) m_Context.m_Own.Remove(m_OwnLocal, m_OwnRemote);
    m_Context.m_Limits.Leave(m_ClientAddress, m_bInHandshake);
    if (m_bInHandshake) {
        m_Context.m_Handshakes.Leave(m_HandshakeTicket);
    } else {
        m_Context.m_Established.fetch_sub(1, std::memory_order_relaxed);
    }
    m_Context.m_Active.fetch_sub(1, std::memory_order_relaxed);
}

void ProxySession::Start(std::shared_ptr<ProxySession> session) {
    const asio::any_io_executor executor = session->m_Client.get_executor();
    session->m_Context.m_Sessions.Add(
        session.get(),
        [executor, weak = std::weak_ptr<ProxySession>(session)](const std::string& why) {
            asio::post(executor, [weak, why] {
                const auto alive = weak.lock();
                if (!alive) return;
                if (why.empty()) {
                    alive->ShutDown();
                } else {
                    alive->EndByControl(why);
                }
            });
        });
    EnterBudget(session);
    asio::co_spawn(executor, session->Watch(session), asio::detached);
    asio::co_spawn(executor, session->Run(session), asio::detached);
}

// The handshake it replaces, if the budget is full, ends on its own thread.
void ProxySession::EnterBudget(const std::shared_ptr<ProxySession>& session) {
    const asio::any_io_executor executor = session->m_Client.get_executor();
    HandshakeBudget::Close dropped;
    session->m_HandshakeTicket = session->m_Context.m_Handshakes.Enter(
        session->m_ClientAddress,
        [executor, weak = std::weak_ptr<ProxySession>(session)] {
            asio::post(executor, [weak] {
                if (const auto alive = weak.lock()) alive->Drop();
            });
        },
        session->m_Options.m_MaxHandshakes, dropped);
    if (dropped) dropped();
}

void ProxySession::Drop() {
    if (!m_bInHandshake) return;
    m_bDropped = true;
    CloseBoth();
}

awaitable<void> ProxySession::Watch(std::shared_ptr<ProxySession> /*keepAlive*/) {
    auto watch = m_Watchdog.Run([this] { return Deadline(); }, [this] { OnExpire(); });
    co_await std::move(watch);
}

void ProxySession::ShutDown() {
    m_bShutDown = true;
    CloseBoth();
}

// The result goes out now, before the close the run reports as it ends; any
// failure the close causes on the way is not reported over it.
void ProxySession::EndByControl(const std::string& why) {
    if (!m_Client.is_open() || !m_ControlEnd.empty() || !m_Info) return;
    Fail(ResultClosedByControl, why);
    m_ControlEnd = why;
    CloseBoth();
}

Clock::time_point ProxySession::Deadline() const {
    if (m_Phase == Phase::Relaying) {
        return m_LastActivity + std::chrono::seconds(m_Options.m_IdleTimeout);
    }
    return m_PhaseDeadline;
}

void ProxySession::OnExpire() {
    m_bTimedOut = true;
    std::error_code ignored;
    if (m_Phase == Phase::Connecting) {
        m_Remote.close(ignored);  // the client still gets its reply
    } else {
        if (m_Phase == Phase::Relaying) m_Outcome = "idle time-out";
        CloseBoth();
    }
}

void ProxySession::CloseBoth() {
    m_PipeKeeper.cancel();
    std::error_code ignored;
    m_Client.close(ignored);
    m_Remote.close(ignored);
}

awaitable<void> ProxySession::Run(std::shared_ptr<ProxySession> /*keepAlive*/) {
    std::error_code ignored;
    m_Client.set_option(tcp::no_delay(true), ignored);
    if (co_await Negotiate()) {
        Request request;
        if (co_await ReadRequest(request)) co_await Serve(request);
    }
    if (m_bTimedOut && m_Phase == Phase::Handshake) {
        EndHandshake(HandshakeEnd::Timeout, "handshake time-out");
    }
    if (m_bDropped) {
        EndHandshake(HandshakeEnd::Dropped,
                     "dropped: handshakes of all clients at their limit (--max-handshakes)");
    }
    if (m_bShutDown) {
        EndHandshake(HandshakeEnd::Shutdown,
                     m_Phase == Phase::Relaying ? "shut down" : "shut down in handshake");
    }
    if (!m_ControlEnd.empty()) m_Outcome = m_ControlEnd;
    CloseBoth();
    m_Watchdog.Stop();
    if (m_Info) m_Context.m_Hub.Close(m_Info);
    LogEnd();
    CountEnd();
}

// A client sends its greeting and request, often all at once: one receive
// takes what has come, and the parts are read out of it.
awaitable<bool> ProxySession::ReadExactly(void* data, size_t size) {
    auto* at = static_cast<uint8_t*>(data);
    for (;;) {
        const size_t take = std::min(size, m_ReceivedEnd - m_ReceivedAt);
        std::memcpy(at, m_Received.data() + m_ReceivedAt, take);
        m_ReceivedAt += take;
        at += take;
        size -= take;
        if (size == 0) co_return true;
        std::error_code error;
        m_ReceivedAt = 0;
        m_ReceivedEnd = co_await m_Client.async_read_some(asio::buffer(m_Received), NoThrow(error));
        if (error) {
            m_ReceivedEnd = 0;
            co_return false;
        }
    }
}

awaitable<bool> ProxySession::Negotiate() {
    uint8_t head[2];
    uint8_t methods[255];
    if (!co_await ReadExactly(head, sizeof head)) {
        EndHandshake(HandshakeEnd::Closed, "closed during greeting");
        co_return false;
    }
    if (ComesFromItself()) co_return false;
    if (head[0] != SocksVersion || head[1] == 0) {
        EndHandshake(HandshakeEnd::Malformed, "bad greeting");
        co_return false;
    }
    if (!co_await ReadExactly(methods, head[1])) {
        EndHandshake(HandshakeEnd::Closed, "closed during greeting");
        co_return false;
    }
    const bool password = m_Settings->m_pUsers != nullptr;
    const uint8_t wanted = password ? MethodPassword : MethodNone;
    const bool offered = std::memchr(methods, wanted, head[1]) != nullptr;
    const uint8_t answer[2] = {SocksVersion, offered ? wanted : MethodUnacceptable};
    std::error_code error;
    co_await Answer(answer, sizeof answer, error);
    if (!offered) {
        EndHandshake(HandshakeEnd::NoMethod,
                     password ? "no password offered" : "no acceptable method");
        co_return false;
    }
    if (error || (password && !co_await Authenticate())) co_return false;
    OpenRecord(wanted);
    co_return true;
}

// Asked once the client has sent something: the proxy knows its own
// connection before it replies to the CONNECT, so before any byte can come
// through it.
bool ProxySession::ComesFromItself() {
    if (!m_Context.m_Own.IsOwn(m_ClientEndpoint, [this] {
            std::error_code ignored;
            return m_Client.local_endpoint(ignored);
        })) {
        return false;
    }
    m_Context.m_Metrics.Refused(RefusedBy::OwnListener);
    m_bRefused = true;
    m_Outcome = "refused: a connection of the proxy itself";
    return true;
}

void ProxySession::OpenRecord(uint8_t method) {
    m_Info = std::make_shared<ConnectionInfo>();
    m_Info->m_Id = m_Context.m_NextId.fetch_add(1, std::memory_order_relaxed);
    m_Info->m_StartTime = static_cast<uint32_t>(std::time(nullptr));
    m_Info->m_Method = method;
    m_Info->m_User = Printable(m_User);
    m_Info->m_Source = MonitorAddress(m_ClientEndpoint);
    m_Info->m_SourceName = HostText(m_ClientEndpoint.address());
    m_Context.m_Hub.Open(m_Info);
    m_Context.m_Sessions.Known(this, m_Info->m_Id, {m_User, m_ClientAddress, {}, {}});
}

// A user name of length 0 is read to its end like any other and refused
// with status 0x01. An address that keeps failing waits longer and longer
// before each of its passwords is checked.
awaitable<bool> ProxySession::Authenticate() {
    uint8_t head[2];
    uint8_t length = 0;
    if (!co_await ReadExactly(head, sizeof head) || head[0] != PasswordVersion) {
        EndHandshake(HandshakeEnd::Malformed, "bad user name");
        co_return false;
    }
    std::string user(head[1], '\0');
    std::string password;
    if (!co_await ReadExactly(user.data(), user.size()) || !co_await ReadExactly(&length, 1)) {
        EndHandshake(HandshakeEnd::Malformed, "bad user name");
        co_return false;
    }
    password.resize(length);
    if (!co_await ReadExactly(password.data(), password.size())) {
        EndHandshake(HandshakeEnd::Closed, "closed during authentication");
        co_return false;
    }
    m_User = user;
    std::error_code error;
    // Never the whole time left for the handshake: a throttled address must
    // still get its answer when its password is right, however short the time-out.
    const Clock::duration delay = std::min<Clock::duration>(
        m_Context.m_Throttle.Delay(m_ClientAddress), (m_PhaseDeadline - Clock::now()) / 2);
    if (delay.count() > 0) {
        asio::steady_timer pause(m_Client.get_executor(), delay);
        co_await pause.async_wait(NoThrow(error));
    }
    bool accepted = false;
    if (!user.empty()) {
        // Queued with the checks of the same client, and ahead of clients
        // whose logins failed lately; one still queued at the end of the
        // handshake time is not run. The awaitable is named before it is
        // awaited: GCC 12 destroys temporaries of a co_await expression twice.
        auto check = m_Context.m_Passwords.Run<bool>(
            m_ClientAddress, m_PhaseDeadline,
            [users = m_Settings->m_pUsers, user, password] { return users->Check(user, password); },
            delay.count() == 0);
        const std::optional<bool> checked = co_await std::move(check);
        if (!checked) {
            m_bTimedOut = true;
            co_return false;
        }
        accepted = *checked;
    }
    if (accepted) {
        m_Context.m_Throttle.Succeeded(m_ClientAddress);
    } else {
        m_Context.m_Throttle.Failed(m_ClientAddress);
    }
    const uint8_t answer[2] = {PasswordVersion, static_cast<uint8_t>(accepted ? 0x00 : 0x01)};
    co_await Answer(answer, sizeof answer, error);
    if (!accepted) {
        OpenRecord(MethodPassword);
        m_HandshakeEnd = HandshakeEnd::Authentication;
        Fail(ResultAuthenticationFailed, "authentication failed");
    }
    co_return accepted && !error;
}

awaitable<bool> ProxySession::ReadRequest(Request& request) {
    uint8_t head[4];
    if (!co_await ReadExactly(head, sizeof head)) {
        EndHandshake(HandshakeEnd::Closed, "closed before request");
        co_return false;
    }
    if (head[0] != SocksVersion) {
        EndHandshake(HandshakeEnd::Malformed, "bad request");
        co_return false;
    }
    request.m_Command = head[1];
    bool complete = true;
    if (head[3] == TypeV4) {
        asio::ip::address_v4::bytes_type bytes;
        complete = co_await ReadExactly(bytes.data(), bytes.size());
        request.m_Address = asio::ip::address_v4(bytes);
    } else if (head[3] == TypeV6) {
        asio::ip::address_v6::bytes_type bytes;
        complete = co_await ReadExactly(bytes.data(), bytes.size());
        request.m_Address = asio::ip::address_v6(bytes);
    } else if (head[3] == TypeDomain) {
        uint8_t length = 0;
        complete = co_await ReadExactly(&length, 1) && length != 0;
        request.m_Host.resize(length);
        complete = complete && co_await ReadExactly(request.m_Host.data(), length);
        request.m_bDomain = true;
    } else {
        co_await Reply(ReplyAddressTypeNotSupported);
        Fail(ReplyAddressTypeNotSupported);
        co_return false;
    }
    uint8_t port[2];
    if (!complete || !co_await ReadExactly(port, sizeof port)) {
        EndHandshake(HandshakeEnd::Malformed, "bad request");
        co_return false;
    }
    request.m_Port = static_cast<uint16_t>(port[0] << 8 | port[1]);
    if (!request.m_bDomain) request.m_Host = HostText(request.m_Address);
    m_bInHandshake = false;
    m_Context.m_Limits.HandshakeDone(m_ClientAddress);
    m_Context.m_Handshakes.Leave(m_HandshakeTicket);
    m_Context.m_Established.fetch_add(1, std::memory_order_relaxed);
    co_return true;
}

awaitable<void> ProxySession::Serve(const Request& request) {
    const std::string& host = request.m_Host;
    const bool v6 = !request.m_bDomain && host.find(':') != std::string::npos;
    m_Dest = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(request.m_Port);
    m_DestHost = host;
    m_DestPort = request.m_Port;
    // Known to the blocks before the monitor shows it.
    m_Context.m_Sessions.Heading(
        this, request.m_bDomain ? host : std::string(),
        request.m_bDomain ? std::nullopt : std::optional(ToAddress16(request.m_Address)));
    m_Info->SetDestination(ServiceName(request.m_Port), Printable(request.m_Host),
                           request.m_bDomain
                               ? MonNetAddress{}
                               : MonitorAddress(tcp::endpoint(request.m_Address, request.m_Port)));
    if (request.m_Command != CommandConnect) {
        co_await Reply(ReplyCommandNotSupported);
        Fail(ReplyCommandNotSupported);
        co_return;
    }
    // Counted and reported before the client hears of it.
    if (const std::optional<Refusal> blocked = RefuseByBlock(request)) {
        Refuse(*blocked);
        co_await Reply(ReplyNotAllowed);
        co_return;
    }
    if (co_await Connect(request)) co_await Relay();
}

// A user's block applies once the user is known (at the request, so that a
// blocked user sees a refused request, not a failed login); a name's before
// it is looked up.
std::optional<Refusal> ProxySession::RefuseByBlock(const Request& request) const {
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    std::optional<MonBlock> block = m_Context.m_Blocks.User(m_User, now);
    if (!block && request.m_bDomain)
        block = m_Context.m_Blocks.DestinationName(request.m_Host, now);
    if (!block) return std::nullopt;
    return Refusal{RefusedByBlock(block->m_What), BlockedText(*block)};
}

// The connect time-out covers the lookup too, its wait in the queue included.
// Every address a name gives is checked against the rules, and only the
// permitted ones are tried.
awaitable<bool> ProxySession::Connect(const Request& request) {
    m_Phase = Phase::Connecting;
    m_PhaseDeadline = Clock::now() + std::chrono::seconds(m_Options.m_ConnectTimeout);
    m_Watchdog.Poke(Deadline());

    std::vector<tcp::endpoint> endpoints;
    std::optional<Refusal> refusal;
    uint8_t failure = co_await FindEndpoints(request, endpoints, refusal);
    if (!m_bTimedOut && failure == ReplySucceeded) {
        endpoints = Permitted(request, std::move(endpoints), refusal);
        if (endpoints.empty()) failure = ReplyNotAllowed;
    }
    if (failure == ReplySucceeded) failure = co_await ConnectToAny(endpoints);
    if (m_bTimedOut) failure = ReplyTtlExpired;
    if (failure != ReplySucceeded) {
        co_await Reply(failure);
        if (failure == ReplyNotAllowed && refusal) {
            Refuse(*refusal);
        } else {
            Fail(failure);
        }
        co_return false;
    }

    std::error_code ignored;
    const tcp::endpoint bound = m_Remote.local_endpoint(ignored);
    m_OwnLocal = bound;
    m_Context.m_Own.Add(m_OwnLocal, m_OwnRemote);
    m_bOwnAdded = true;
    if (request.m_bDomain) {
        m_Info->SetDestAddress(MonitorAddress(m_OwnRemote));
        m_Context.m_Sessions.Heading(this, request.m_Host, ToAddress16(m_OwnRemote.address()));
    }
    m_Phase = Phase::Relaying;
    m_ResultLabel = "succeeded";
    m_pTraffic = &m_Context.m_Metrics.TrafficOf(
        m_User.empty() ? "-" : m_User, ServiceName(request.m_Port), m_Options.m_MetricsUsers);
    m_LastActivity = Clock::now();
    m_Watchdog.Poke(Deadline());
    m_Outcome = "succeeded";
    co_await Reply(ReplySucceeded, &bound);
    co_return true;
}

// The addresses of a request: its own, or those its name gives unless a rule
// refuses the name already (then none, and the refusal).
awaitable<uint8_t> ProxySession::FindEndpoints(const Request& request,
                                               std::vector<tcp::endpoint>& endpoints,
                                               std::optional<Refusal>& refusal) {
    if (!request.m_bDomain) {
        endpoints.emplace_back(request.m_Address, request.m_Port);
        co_return ReplySucceeded;
    }
    // No name holds a NUL; cut there it would be another one.
    if (request.m_Host.find('\0') != std::string::npos) co_return ReplyHostUnreachable;
    refusal = m_Context.m_Policy.RefuseName(
        m_Options.m_Rules, {m_ClientAddress, m_User, request.m_Host, request.m_Port});
    if (refusal) co_return ReplySucceeded;
    const Clock::time_point asked = Clock::now();
    auto resolve = m_Context.m_Lookups.Resolve(m_ClientAddress, request.m_Host, request.m_Port,
                                               m_PhaseDeadline);
    const std::optional<Lookup> lookup = co_await std::move(resolve);
    const bool found = lookup && !lookup->m_bFailed && !lookup->m_Endpoints.empty();
    m_Context.m_Metrics.Looked(found, !lookup, Clock::now() - asked);
    if (!lookup) {
        m_bTimedOut = true;
        co_return ReplyTtlExpired;
    }
    if (!found) co_return ReplyHostUnreachable;
    endpoints = lookup->m_Endpoints;
    co_return ReplySucceeded;
}

// Tries the endpoints in turn until one answers or the time is up.
awaitable<uint8_t> ProxySession::ConnectToAny(const std::vector<tcp::endpoint>& endpoints) {
    std::error_code error;
    for (const tcp::endpoint& endpoint : endpoints) {
        if (m_bTimedOut) break;
        std::error_code ignored;
        m_Remote.close(ignored);
        co_await m_Remote.async_connect(endpoint, NoThrow(error));
        if (!error) {
            m_OwnRemote = endpoint;
            break;
        }
    }
    if (!error) co_return ReplySucceeded;
    // Asio's own category carries errno values but matches no std::errc.
    const bool system = error.category() == asio::error::get_system_category();
    co_return ReplyForConnectError(system ? error.value() : 0);
}

awaitable<void> ProxySession::Reply(uint8_t code, const tcp::endpoint* bound) {
    uint8_t answer[22] = {SocksVersion, code, 0x00, TypeV4};
    size_t size = 10;
    if (bound != nullptr) {
        const asio::ip::address address = Unmapped(bound->address());
        if (address.is_v4()) {
            const auto bytes = address.to_v4().to_bytes();
            std::memcpy(answer + 4, bytes.data(), bytes.size());
        } else {
            const auto bytes = address.to_v6().to_bytes();
            answer[3] = TypeV6;
            std::memcpy(answer + 4, bytes.data(), bytes.size());
            size = 22;
        }
        answer[size - 2] = static_cast<uint8_t>(bound->port() >> 8);
        answer[size - 1] = static_cast<uint8_t>(bound->port());
    }
    std::error_code ignored;
    co_await Answer(answer, size, ignored);
}

// An answer nearly always fits the socket's buffer: sent there and then, it
// costs no turn of the event loop.
awaitable<void> ProxySession::Answer(const uint8_t* data, size_t size, std::error_code& error) {
    const ssize_t sent = send(m_Client.native_handle(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(size)) co_return;
    if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        error = std::error_code(errno, asio::error::get_system_category());
        co_return;
    }
    const size_t done = sent > 0 ? static_cast<size_t>(sent) : 0;
    co_await asio::async_write(m_Client, asio::buffer(data + done, size - done), NoThrow(error));
}

std::vector<tcp::endpoint> ProxySession::Permitted(const Request& request,
                                                   std::vector<tcp::endpoint> endpoints,
                                                   std::optional<Refusal>& refusal) const {
    const DestinationPolicy::Query query{m_ClientAddress, m_User,
                                         request.m_bDomain ? request.m_Host : std::string(),
                                         request.m_Port};
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    std::erase_if(endpoints, [&](const tcp::endpoint& endpoint) {
        std::optional<Refusal> why;
        if (IsForbidden(endpoint)) {
            why = Refusal{RefusedBy::Forbidden, ReplyText(ReplyNotAllowed)};
        } else if (const auto block = m_Context.m_Blocks.DestinationAddress(
                       ToAddress16(endpoint.address()), now)) {
            why = Refusal{RefusedBy::DestinationBlock, BlockedText(*block)};
        } else {
            why = m_Context.m_Policy.RefuseAddress(m_Options.m_Rules, query, endpoint.address());
        }
        if (!why) return false;
        if (!refusal) refusal = std::move(why);
        return true;
    });
    return endpoints;
}

void ProxySession::Fail(uint8_t code) {
    Fail(code, ReplyText(code));
}

void ProxySession::Fail(uint32_t code, const std::string& text) {
    if (!m_ControlEnd.empty()) return;  // its result is out already
    m_Outcome = text;
    if (code <= 0xFF) m_ResultLabel = ReplyLabel(static_cast<uint8_t>(code));
    m_Info->m_ResultCode = code;
    m_Info->m_ResultText = text;
    m_Context.m_Hub.Result(m_Info);
}

void ProxySession::Refuse(const Refusal& refusal) {
    m_Context.m_Metrics.Refused(refusal.m_By);
    Fail(ReplyNotAllowed, refusal.m_Text);
}

void ProxySession::EndHandshake(HandshakeEnd reason, const char* text) {
    m_HandshakeEnd = reason;
    m_Outcome = text;
}

awaitable<void> ProxySession::Relay() {
    std::error_code ignored;
    m_Remote.set_option(tcp::no_delay(true), ignored);
    if (m_ReceivedAt < m_ReceivedEnd) {
        // What the client sent after its request, before it had the reply.
        const size_t early = m_ReceivedEnd - m_ReceivedAt;
        std::error_code error;
        co_await asio::async_write(m_Remote, asio::buffer(m_Received.data() + m_ReceivedAt, early),
                                   NoThrow(error));
        m_ReceivedAt = m_ReceivedEnd;
        if (error) {
            CloseBoth();
            co_return;
        }
        m_LastActivity = Clock::now();
        m_Info->m_BytesOut.fetch_add(early, std::memory_order_relaxed);
        m_pTraffic->m_Out.fetch_add(early, std::memory_order_relaxed);
    }
    // Named first: GCC 12 destroys temporaries of a co_await expression twice.
    auto both = Pump(m_Directions[0], m_Client, m_Remote, m_Info->m_BytesOut, m_pTraffic->m_Out) &&
                Pump(m_Directions[1], m_Remote, m_Client, m_Info->m_BytesIn, m_pTraffic->m_In);
    co_await std::move(both);
}

// Moves one direction until its end: through a splice pipe while data flows,
// through a buffer that lives only while it is used when no pipe can be had
// (out of descriptors, or the user's pipe budget spent). A connection that
// has been idle for a moment gives its pipes back (KeepPipes), so that
// thousands of idle connections hold neither descriptors nor pipe budget.
awaitable<void> ProxySession::Pump(Direction& direction, tcp::socket& from, tcp::socket& to,
                                   std::atomic<uint64_t>& counter, std::atomic<uint64_t>& total) {
    SplicePipe& pipe = direction.m_Pipe;
    std::error_code error;
    for (;;) {
        // A direction without a pipe looks before it waits: one that ends
        // before it moves a byte, as most of a short connection's do, needs none.
        direction.m_bWaiting = true;
        const bool ready = !pipe.IsOpen() && Peek(from, error);
        if (!ready && !error) co_await from.async_wait(tcp::socket::wait_read, NoThrow(error));
        direction.m_bWaiting = false;
        if (error) break;
        if (!ready && !pipe.IsOpen()) continue;  // woken: look again
        const bool opened = !pipe.IsOpen() && pipe.Open();
        if (opened && !m_bKeepingPipes) {
            m_bKeepingPipes = true;
            asio::co_spawn(m_Client.get_executor(), KeepPipes(shared_from_this()), asio::detached);
        }
        const bool more = pipe.IsOpen() ? co_await Splice(pipe, from, to, counter, total, error)
                                        : co_await Copy(from, to, counter, total, error);
        if (!more) break;
    }
    std::error_code ignored;
    direction.m_bEnded = true;
    if (error == asio::error::eof) {
        // Pass the half-close on; once both directions have ended, the close
        // that follows says as much.
        const Direction& other = &direction == &m_Directions[0] ? m_Directions[1] : m_Directions[0];
        if (!other.m_bEnded) to.shutdown(tcp::socket::shutdown_send, ignored);
    } else {
        CloseBoth();
    }
}

// Wakes once per idle period while pipes are held, not once per burst.
awaitable<void> ProxySession::KeepPipes(std::shared_ptr<ProxySession> /*keepAlive*/) {
    constexpr std::chrono::seconds Idle{1};
    std::error_code error;
    Clock::time_point next = m_LastActivity + Idle;
    while (m_Client.is_open()) {
        m_PipeKeeper.expires_at(next);
        co_await m_PipeKeeper.async_wait(NoThrow(error));
        if (error || !m_Client.is_open()) break;
        const Clock::time_point now = Clock::now();
        if (now - m_LastActivity < Idle) {
            next = m_LastActivity + Idle;
            continue;
        }
        // A direction still writing out its pipe keeps it until the next look.
        for (Direction& direction : m_Directions) {
            if (direction.m_bWaiting) direction.m_Pipe.Close();
        }
        if (!m_Directions[0].m_Pipe.IsOpen() && !m_Directions[1].m_Pipe.IsOpen()) break;
        next = now + Idle;
    }
    m_bKeepingPipes = false;
}

// Both move what `from` has until it would wait (true) or ends (false, with
// the reason in `error`: eof at the end of the stream).
awaitable<bool> ProxySession::Splice(SplicePipe& pipe, tcp::socket& from, tcp::socket& to,
                                     std::atomic<uint64_t>& counter, std::atomic<uint64_t>& total,
                                     std::error_code& error) {
    for (;;) {
        const ssize_t size = pipe.FromSocket(from.native_handle());
        if (size == 0) {
            error = asio::error::eof;
            co_return false;
        }
        if (size < 0) {
            if (errno == EAGAIN) co_return true;
            error = std::error_code(errno, asio::error::get_system_category());
            co_return false;
        }
        m_LastActivity = Clock::now();
        for (size_t left = static_cast<size_t>(size); left > 0;) {
            const ssize_t sent = pipe.ToSocket(to.native_handle(), left);
            if (sent > 0) {
                left -= static_cast<size_t>(sent);
                counter.fetch_add(static_cast<uint64_t>(sent), std::memory_order_relaxed);
                total.fetch_add(static_cast<uint64_t>(sent), std::memory_order_relaxed);
            } else if (sent < 0 && errno == EAGAIN) {
                co_await to.async_wait(tcp::socket::wait_write, NoThrow(error));
                if (error) co_return false;
            } else {
                error = sent == 0 ? std::error_code(asio::error::broken_pipe)
                                  : std::error_code(errno, asio::error::get_system_category());
                co_return false;
            }
        }
        // A small burst most likely left the socket empty: the wait that
        // follows finds out (it re-arms the socket, and wakes at once if
        // more came), and saves the read that would only say so.
        if (static_cast<size_t>(size) < SmallBurst) co_return true;
    }
}

awaitable<bool> ProxySession::Copy(tcp::socket& from, tcp::socket& to,
                                   std::atomic<uint64_t>& counter, std::atomic<uint64_t>& total,
                                   std::error_code& error) {
    std::error_code ignored;
    if (!from.non_blocking()) from.non_blocking(true, ignored);  // for read_some
    const std::unique_ptr<uint8_t[]> buffer =
        std::make_unique_for_overwrite<uint8_t[]>(RelayBufferSize);
    for (;;) {
        const size_t size = from.read_some(asio::buffer(buffer.get(), RelayBufferSize), error);
        if (error == asio::error::would_block || error == asio::error::try_again) {
            error.clear();
            co_return true;
        }
        if (error) co_return false;
        m_LastActivity = Clock::now();
        co_await asio::async_write(to, asio::buffer(buffer.get(), size), NoThrow(error));
        if (error) co_return false;
        counter.fetch_add(size, std::memory_order_relaxed);
        total.fetch_add(size, std::memory_order_relaxed);
    }
}

void ProxySession::LogEnd() const {
    ServerLog::Session session;
    session.m_ClientHost = HostText(m_ClientEndpoint.address());
    session.m_ClientPort = m_ClientEndpoint.port();
    session.m_User = m_User;
    session.m_Dest = m_Dest;
    session.m_DestHost = m_DestHost;
    session.m_DestPort = m_DestPort;
    session.m_BytesIn = m_Info ? m_Info->m_BytesIn.load() : 0;
    session.m_BytesOut = m_Info ? m_Info->m_BytesOut.load() : 0;
    session.m_Seconds = std::chrono::duration<double>(Clock::now() - m_Start).count();
    session.m_Result = m_Outcome;
    m_Context.m_Log.Connection(session);
}

// A connection that got as far as a request counts by the reply it got; one
// that did not, by why its handshake ended.
void ProxySession::CountEnd() const {
    if (m_bRefused) return;  // counted as refused already
    if (m_ResultLabel.empty()) {
        m_Context.m_Metrics.HandshakeFailed(m_HandshakeEnd);
    } else {
        m_Context.m_Metrics.Opened(m_ResultLabel);
    }
}
