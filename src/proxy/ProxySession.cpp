#include "ProxySession.h"

#include <netdb.h>

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

struct Lookup {
    std::vector<tcp::endpoint> m_Endpoints;
    bool m_bFailed = false;
};

// getaddrinfo blocks, so it runs on the blocking pool and never holds up an
// I/O thread or another connection.
Lookup Resolve(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    Lookup lookup;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
        lookup.m_bFailed = true;
        return lookup;
    }
    for (const addrinfo* at = list; at != nullptr; at = at->ai_next) {
        tcp::endpoint endpoint;
        if (at->ai_addrlen > endpoint.capacity()) continue;
        std::memcpy(endpoint.data(), at->ai_addr, at->ai_addrlen);
        endpoint.resize(at->ai_addrlen);
        lookup.m_Endpoints.push_back(endpoint);
    }
    freeaddrinfo(list);
    return lookup;
}

// The blocking calls as coroutines of the blocking pool. Their arguments are
// copies, and the awaitable is named before it is awaited: GCC 12 destroys
// temporaries of a co_await expression twice.
awaitable<Lookup> ResolveAway(std::string host, uint16_t port) {
    co_return Resolve(host, port);
}

awaitable<bool> CheckPassword(const UserFile& users, std::string user, std::string password) {
    co_return users.Check(user, password);
}

asio::ip::address Unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

// Destinations no client has a reason to reach through a proxy: port 0, the
// unspecified address (which Linux takes for this host), multicast, broadcast.
bool IsForbidden(const tcp::endpoint& endpoint) {
    const asio::ip::address address = Unmapped(endpoint.address());
    return endpoint.port() == 0 || address.is_unspecified() || address.is_multicast() ||
           (address.is_v4() && address.to_v4() == asio::ip::address_v4::broadcast());
}

// The monitor's records carry IPv4 socket addresses only; other ones go by name.
MonBytes MonitorAddress(const tcp::endpoint& endpoint) {
    const asio::ip::address address = Unmapped(endpoint.address());
    if (!address.is_v4()) return {};
    return EncodeSockAddr(address.to_v4().to_uint(), endpoint.port());
}

// Client-supplied text as the log shows it: one line, printable.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '"') c = '?';
    }
    return text;
}

}  // namespace

struct ProxySession::Request {
    uint8_t m_Command = 0;
    bool m_bDomain = false;
    std::string m_Host;  // the name, or the address as text
    asio::ip::address m_Address;
    uint16_t m_Port = 0;
};

ProxySession::ProxySession(ProxyContext& context, tcp::socket client)
    : m_Context(context),
      m_Client(std::move(client)),
      m_Remote(m_Client.get_executor()),
      m_Watchdog(m_Client.get_executor()),
      m_Start(Clock::now()) {
    std::error_code ignored;
    m_ClientEndpoint = m_Client.remote_endpoint(ignored);
    // The whole handshake must fit in one idle period.
    m_PhaseDeadline = m_Start + std::chrono::seconds(m_Context.m_Options.m_IdleTimeout);
    m_LastActivity = m_Start;
}

ProxySession::~ProxySession() {
    m_Context.m_Active.fetch_sub(1, std::memory_order_relaxed);
}

void ProxySession::Start(std::shared_ptr<ProxySession> session) {
    const asio::any_io_executor executor = session->m_Client.get_executor();
    asio::co_spawn(executor, session->Watch(session), asio::detached);
    asio::co_spawn(executor, session->Run(session), asio::detached);
}

awaitable<void> ProxySession::Watch(std::shared_ptr<ProxySession> /*keepAlive*/) {
    auto watch = m_Watchdog.Run([this] { return Deadline(); }, [this] { OnExpire(); });
    co_await std::move(watch);
}

Clock::time_point ProxySession::Deadline() const {
    if (m_Phase == Phase::Relaying) {
        return m_LastActivity + std::chrono::seconds(m_Context.m_Options.m_IdleTimeout);
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
    if (m_bTimedOut && m_Phase == Phase::Handshake) m_Outcome = "handshake time-out";
    CloseBoth();
    m_Watchdog.Stop();
    if (m_Info) m_Context.m_Hub.Close(m_Info);
    LogEnd();
}

awaitable<bool> ProxySession::ReadExactly(void* data, size_t size) {
    std::error_code error;
    co_await asio::async_read(m_Client, asio::buffer(data, size), NoThrow(error));
    co_return !error;
}

awaitable<bool> ProxySession::Negotiate() {
    uint8_t head[2];
    uint8_t methods[255];
    if (!co_await ReadExactly(head, sizeof head)) {
        m_Outcome = "closed during greeting";
        co_return false;
    }
    if (head[0] != SocksVersion || head[1] == 0) {
        m_Outcome = "bad greeting";
        co_return false;
    }
    if (!co_await ReadExactly(methods, head[1])) {
        m_Outcome = "closed during greeting";
        co_return false;
    }
    const bool password = m_Context.m_pUsers != nullptr;
    const uint8_t wanted = password ? MethodPassword : MethodNone;
    const bool offered = std::memchr(methods, wanted, head[1]) != nullptr;
    const uint8_t answer[2] = {SocksVersion, offered ? wanted : MethodUnacceptable};
    std::error_code error;
    co_await asio::async_write(m_Client, asio::buffer(answer), NoThrow(error));
    if (!offered) {
        m_Outcome = password ? "no password offered" : "no acceptable method";
        co_return false;
    }
    if (error || (password && !co_await Authenticate())) co_return false;

    m_Info = std::make_shared<ConnectionInfo>();
    m_Info->m_Id = m_Context.m_NextId.fetch_add(1, std::memory_order_relaxed);
    m_Info->m_StartTime = static_cast<uint32_t>(std::time(nullptr));
    m_Info->m_Method = wanted;
    m_Info->m_User = m_User;
    m_Info->m_SourceAddr = MonitorAddress(m_ClientEndpoint);
    m_Info->m_SourceName = HostText(m_ClientEndpoint.address());
    m_Context.m_Hub.Open(m_Info);
    co_return true;
}

awaitable<bool> ProxySession::Authenticate() {
    uint8_t head[2];
    uint8_t length = 0;
    if (!co_await ReadExactly(head, sizeof head) || head[0] != PasswordVersion || head[1] == 0) {
        m_Outcome = "bad user name";
        co_return false;
    }
    std::string user(head[1], '\0');
    std::string password;
    if (!co_await ReadExactly(user.data(), user.size()) || !co_await ReadExactly(&length, 1)) {
        m_Outcome = "bad user name";
        co_return false;
    }
    password.resize(length);
    if (!co_await ReadExactly(password.data(), password.size())) {
        m_Outcome = "closed during authentication";
        co_return false;
    }
    m_User = Printable(user);
    auto check = asio::co_spawn(m_Context.m_Blocking,
                                CheckPassword(*m_Context.m_pUsers, user, password), use_awaitable);
    const bool accepted = co_await std::move(check);
    const uint8_t answer[2] = {PasswordVersion, static_cast<uint8_t>(accepted ? 0x00 : 0x01)};
    std::error_code error;
    co_await asio::async_write(m_Client, asio::buffer(answer), NoThrow(error));
    if (!accepted) m_Outcome = "authentication failed";
    co_return accepted && !error;
}

awaitable<bool> ProxySession::ReadRequest(Request& request) {
    uint8_t head[4];
    if (!co_await ReadExactly(head, sizeof head)) {
        m_Outcome = "closed before request";
        co_return false;
    }
    if (head[0] != SocksVersion) {
        m_Outcome = "bad request";
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
        m_Outcome = "bad request";
        co_return false;
    }
    request.m_Port = static_cast<uint16_t>(port[0] << 8 | port[1]);
    if (!request.m_bDomain) request.m_Host = HostText(request.m_Address);
    co_return true;
}

awaitable<void> ProxySession::Serve(const Request& request) {
    const std::string host = Printable(request.m_Host);
    const bool v6 = !request.m_bDomain && host.find(':') != std::string::npos;
    m_Dest = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(request.m_Port);
    m_Info->SetDestination(ServiceName(request.m_Port), request.m_Host,
                           request.m_bDomain
                               ? MonBytes{}
                               : MonitorAddress(tcp::endpoint(request.m_Address, request.m_Port)));
    if (request.m_Command != CommandConnect) {
        co_await Reply(ReplyCommandNotSupported);
        Fail(ReplyCommandNotSupported);
        co_return;
    }
    if (co_await Connect(request)) co_await Relay();
}

awaitable<bool> ProxySession::Connect(const Request& request) {
    m_Phase = Phase::Connecting;
    m_PhaseDeadline = Clock::now() + std::chrono::seconds(m_Context.m_Options.m_ConnectTimeout);
    m_Watchdog.Poke();

    std::vector<tcp::endpoint> endpoints;
    uint8_t failure = ReplySucceeded;
    if (request.m_bDomain) {
        auto resolve = asio::co_spawn(m_Context.m_Blocking,
                                      ResolveAway(request.m_Host, request.m_Port), use_awaitable);
        const Lookup lookup = co_await std::move(resolve);
        endpoints = lookup.m_Endpoints;
        if (lookup.m_bFailed || endpoints.empty()) failure = ReplyHostUnreachable;
    } else {
        endpoints.emplace_back(request.m_Address, request.m_Port);
    }
    std::erase_if(endpoints, IsForbidden);
    if (failure == ReplySucceeded && endpoints.empty()) failure = ReplyNotAllowed;

    std::error_code error;
    for (const tcp::endpoint& endpoint : endpoints) {
        if (failure != ReplySucceeded || m_bTimedOut) break;
        std::error_code ignored;
        m_Remote.close(ignored);
        co_await m_Remote.async_connect(endpoint, NoThrow(error));
        if (!error) break;
    }
    if (m_bTimedOut) {
        failure = ReplyTtlExpired;
    } else if (failure == ReplySucceeded && error) {
        // Asio's own category carries errno values but matches no std::errc.
        const bool system = error.category() == asio::error::get_system_category();
        failure = ReplyForConnectError(system ? error.value() : 0);
    }
    if (failure != ReplySucceeded) {
        co_await Reply(failure);
        Fail(failure);
        co_return false;
    }

    std::error_code ignored;
    const tcp::endpoint bound = m_Remote.local_endpoint(ignored);
    if (request.m_bDomain)
        m_Info->SetDestAddress(MonitorAddress(m_Remote.remote_endpoint(ignored)));
    m_Phase = Phase::Relaying;
    m_LastActivity = Clock::now();
    m_Watchdog.Poke();
    m_Outcome = "succeeded";
    co_await Reply(ReplySucceeded, &bound);
    co_return true;
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
    co_await asio::async_write(m_Client, asio::buffer(answer, size), NoThrow(ignored));
}

void ProxySession::Fail(uint8_t code) {
    m_Outcome = ReplyText(code);
    m_Info->m_ResultCode = code;
    m_Info->m_ResultText = ReplyText(code);
    m_Context.m_Hub.Result(m_Info);
}

awaitable<void> ProxySession::Relay() {
    std::error_code ignored;
    m_Remote.set_option(tcp::no_delay(true), ignored);
    m_Client.non_blocking(true, ignored);
    m_Remote.non_blocking(true, ignored);
    // Named first: GCC 12 destroys temporaries of a co_await expression twice.
    auto both =
        Pump(m_Client, m_Remote, m_Info->m_BytesOut) && Pump(m_Remote, m_Client, m_Info->m_BytesIn);
    co_await std::move(both);
}

// Moves one direction until its end: through a splice pipe once data flows
// (kept until the end: opening one per burst costs more than the copy it
// saves), through a buffer that lives only while it is used when no pipe can
// be had. A connection that never moved data holds neither.
awaitable<void> ProxySession::Pump(tcp::socket& from, tcp::socket& to,
                                   std::atomic<uint64_t>& counter) {
    SplicePipe pipe;
    std::error_code error;
    for (;;) {
        co_await from.async_wait(tcp::socket::wait_read, NoThrow(error));
        if (error) break;
        const bool more = pipe.Open() ? co_await Splice(pipe, from, to, counter, error)
                                      : co_await Copy(from, to, counter, error);
        if (!more) break;
    }
    std::error_code ignored;
    if (error == asio::error::eof) {
        to.shutdown(tcp::socket::shutdown_send, ignored);  // pass the half-close on
    } else {
        CloseBoth();
    }
}

// Both move what `from` has until it would wait (true) or ends (false, with
// the reason in `error`: eof at the end of the stream).
awaitable<bool> ProxySession::Splice(SplicePipe& pipe, tcp::socket& from, tcp::socket& to,
                                     std::atomic<uint64_t>& counter, std::error_code& error) {
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
            } else if (sent < 0 && errno == EAGAIN) {
                co_await to.async_wait(tcp::socket::wait_write, NoThrow(error));
                if (error) co_return false;
            } else {
                error = sent == 0 ? std::error_code(asio::error::broken_pipe)
                                  : std::error_code(errno, asio::error::get_system_category());
                co_return false;
            }
        }
    }
}

awaitable<bool> ProxySession::Copy(tcp::socket& from, tcp::socket& to,
                                   std::atomic<uint64_t>& counter, std::error_code& error) {
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
    }
}

void ProxySession::LogEnd() const {
    const double seconds = std::chrono::duration<double>(Clock::now() - m_Start).count();
    const uint64_t in = m_Info ? m_Info->m_BytesIn.load() : 0;
    const uint64_t out = m_Info ? m_Info->m_BytesOut.load() : 0;
    char tail[96];
    std::snprintf(tail, sizeof tail, " in=%llu out=%llu time=%.3fs",
                  static_cast<unsigned long long>(in), static_cast<unsigned long long>(out),
                  seconds);
    m_Context.m_Log.Connection(
        EndpointText(m_ClientEndpoint) + " user=" + (m_User.empty() ? "-" : m_User) +
        " dest=" + (m_Dest.empty() ? "-" : m_Dest) + " result=\"" + m_Outcome + "\"" + tail);
}
