#include "core/monitor/MonTcp.h"

#include "core/monitor/MonSshTunnel.h"
#include "core/monitor/MonTcpLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

int32_t Mon_TcpOpenCount = 0;

namespace {

constexpr size_t ErrorTextSize = 128;

struct WinSockError {
    int32_t m_Code;
    const char* m_Text;
};

// Searched from the first row: 11004 appears twice and always yields row 51.
constexpr WinSockError WinSockErrorTable[] = {
    {10004, "WSAEINTR - blocking WinSock call cancelled"},
    {10009, "WSAEBADF - bad descriptor"},
    {10013, "WSAEACCES - access not permitted"},
    {10014, "WSAEFAULT - memory address fault"},
    {10022, "WSAEINVAL - invalid parameter to WinSock call"},
    {10024, "WSAEMFILE - no more socket descriptors available"},
    {10035, "WSAEWOULDBLOCK - attempt to block non-blocking socket"},
    {10036, "WSAEINPROGRESS - blocking WinSock call in progress"},
    {10037, "WSAEALREADY"},
    {10038, "WSAENOTSOCK - descriptor is not a socket"},
    {10039, "WSAEDESTADDRREQ - destination address required"},
    {10040, "WSAEMSGSIZE - msg too large to fit in specified buffer"},
    {10041, "WSAEPROTOTYPE - protocol wrong type for this socket"},
    {10042, "WSAENOPROTOOPT - option unknown or unsupported"},
    {10043, "WSAEPROTONOSUPPORT - protocol unsupported"},
    {10044, "WSAESOCKTNOSUPPORT - socket type unsupported"},
    {10045, "WSAEOPNOTSUPP - socket does not support service"},
    {10046, "WSAEPFNOSUPPORT - protocol family not supported"},
    {10047, "WSAEAFNOSUPPORT - address family not supported"},
    {10048, "WSAEADDRINUSE - specified address already in use"},
    {10049, "WSAEADDRNOTAVAIL - address not available"},
    {10050, "WSAENETDOWN - network subsystem failed"},
    {10051, "WSAENETUNREACH - network can't be reached from host"},
    {10052, "WSAENETRESET - connection must be reset"},
    {10053, "WSAECONNABORTED - connection aborted due to failure"},
    {10054, "WSAECONNRESET - connection reset by the remote side"},
    {10055, "WSAENOBUFS - no buffer space available"},
    {10056, "WSAEISCONN - socket already connected"},
    {10057, "WSAENOTCONN - socket is not connected"},
    {10058, "WSAESHUTDOWN - socket has been shutdown"},
    {10059, "WSAETOOMANYREFS"},
    {10060, "WSAETIMEDOUT - operation timed out"},
    {10061, "WSAECONNREFUSED - connect attempt forcefully rejected"},
    {10062, "WSAELOOP"},
    {10063, "WSAENAMETOOLONG"},
    {10064, "WSAEHOSTDOWN"},
    {10065, "WSAEHOSTUNREACH"},
    {10066, "WSAENOTEMPTY"},
    {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},
    {10069, "WSAEDQUOT"},
    {10070, "WSAESTALE"},
    {10071, "WSAEREMOTE"},
    {10101, "WSAEDISCON"},
    {10091, "WSASYSNOTREADY - network subsystem not ready for comm"},
    {10092, "WSAVERNOTSUPPORTED - WinSock API version not provided"},
    {10093, "WSANOTINITIALISED - WSAStartup() not yet called"},
    {11001, "WSAHOST_NOT_FOUND - Authoritive Answer Host not found"},
    {11002, "WSATRY_AGAIN - Non-Authoritive Host not found"},
    {11003, "WSANO_RECOVERY - Non recoverable errors"},
    {11004, "WSANO_DATA - valid name, not data record of requested type"},
    {11004, "WSANO_ADDRESS"},
};
static_assert(sizeof WinSockErrorTable / sizeof WinSockErrorTable[0] == 52);

constexpr int32_t WsaEIntr = 10004;
constexpr int32_t WsaEInval = 10022;
constexpr int32_t WsaEMsgSize = 10040;
constexpr int32_t WsaEConnAborted = 10053;
constexpr int32_t WsaEConnReset = 10054;
constexpr int32_t WsaETimedOut = 10060;
constexpr int32_t WsaENoBufs = 10055;

thread_local int32_t t_LastError = 0;
thread_local MonConnectWatcher t_ConnectWatcher;
std::atomic<int> g_ConnectTimeoutMs{15000};
std::atomic<int> g_RecvTimeoutMs{30000};

// The WinSock code of each platform error that has one.
constexpr std::pair<int, int32_t> ErrnoCodes[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
    {EMFILE, 10024},       {ENFILE, 10024},          {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {EPIPE, 10054},           {ENOBUFS, 10055},
    {ENOMEM, 10055},       {EISCONN, 10056},         {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
    {EUSERS, 10068},       {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

// An errno without a WinSock code is kept as it is (it then reads "Unknown
// WinSock error").
int32_t WinSockCodeOfErrno(int error) {
    for (const auto& [platform, winsock] : ErrnoCodes) {
        if (platform == error) {
            return winsock;
        }
    }
    return error;
}

int32_t WinSockCodeOfLookup(int result) {
    switch (result) {
        case MonLookupNoIpv4:
            return 11004;
        case EAI_NONAME:
            return 11001;
        case EAI_AGAIN:
            return 11002;
        case EAI_FAIL:
            return 11003;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return 11004;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return 11004;
#endif
        case EAI_FAMILY:
            return 10047;
        case EAI_SOCKTYPE:
            return 10044;
        case EAI_MEMORY:
            return 10055;
        case EAI_SYSTEM:
            return WinSockCodeOfErrno(errno);
        default:
            return 11003;
    }
}

// Every address of the host, IPv6 and IPv4, in the order the system
// prefers; an IPv6 address in brackets is taken without them.
int SystemAddressLookup(const char* hostName, uint16_t port, std::vector<MonAddress>* addresses) {
    std::string name = hostName;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int result = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    if (result != 0) {
        return result;
    }
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if ((at->ai_family == AF_INET || at->ai_family == AF_INET6) &&
            at->ai_addrlen <= sizeof(sockaddr_storage)) {
            MonAddress address{};
            std::memcpy(&address.m_Address, at->ai_addr, at->ai_addrlen);
            address.m_Length = at->ai_addrlen;
            addresses->push_back(address);
        }
    }
    ::freeaddrinfo(found);
    return addresses->empty() ? MonLookupNoIpv4 : 0;
}

std::atomic<MonHostLookup> g_HostLookup{nullptr};  // an IPv4-only lookup a test installed
std::atomic<MonAddressLookup> g_AddressLookup{SystemAddressLookup};

// The addresses to try: from the IPv4-only lookup when a test installed one,
// else from the address lookup.
int LookUp(const char* hostName, uint16_t port, std::vector<MonAddress>& addresses) {
    if (const MonHostLookup ipv4 = g_HostLookup.load()) {
        MonAddress address{};
        auto& in = reinterpret_cast<sockaddr_in&>(address.m_Address);
        const int result = ipv4(hostName, &in.sin_addr.s_addr);
        if (result == 0) {
            in.sin_family = AF_INET;
            in.sin_port = htons(port);
            address.m_Length = sizeof in;
            addresses.push_back(address);
        }
        return result;
    }
    return g_AddressLookup.load()(hostName, port, &addresses);
}

void SetErrnoError() {
    t_LastError = WinSockCodeOfErrno(errno);
}

// A failure whose code and text are fixed, not taken from the platform.
void FixedError(int32_t code, const char* text, int32_t* errorCode, char* errorText) {
    if (errorCode) {
        *errorCode = code;
    }
    if (errorText) {
        std::snprintf(errorText, ErrorTextSize, "%s", text);
    }
}

int32_t ReportLastError(int32_t* errorCode, char* errorText) {
    Mon_TcpError(errorCode, errorText);
    return -1;
}

// Waits until the socket has the event or the time-out passes (0 or less:
// no time-out); a time-out is recorded as 10060. False on time-out or
// failure, with the last error set.
bool WaitFor(MonSocket s, short event, int timeoutMs) {
    pollfd fd{s, event, 0};
    for (;;) {
        const int ready = ::poll(&fd, 1, timeoutMs > 0 ? timeoutMs : -1);
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            t_LastError = WsaETimedOut;
            return false;
        }
        if (errno != EINTR) {
            SetErrnoError();
            return false;
        }
    }
}

// The link of a socket beyond plain TCP.
struct Link {
    SSL* m_pSsl = nullptr;
    bool m_bFailed = false;       // TLS failed: no close_notify may follow
    std::string m_FailureReason;  // OpenSSL's, when the peer ended TLS
    int m_Version = 1;
    bool m_bControl = false;
    std::string m_Fingerprint;
    std::unique_ptr<MonSshTunnel> m_pTunnel;

    // Tells the peer the stream ends, without waiting for its answer (the
    // socket is non-blocking), while the socket is still open.
    void EndTls() {
        if (m_pSsl != nullptr) {
            if (!m_bFailed) SSL_shutdown(m_pSsl);
            SSL_free(m_pSsl);
            m_pSsl = nullptr;
        }
    }
    ~Link() { EndTls(); }
};

// The read-ahead buffer of one socket: one recv takes whatever is waiting,
// up to its size, and messages are cut from it, so a batch costs a few recv
// calls rather than two per message. It also carries the socket's deadline
// and link.
struct ReadAhead {
    static constexpr size_t Size = 65536;
    size_t m_Begin = 0;
    size_t m_End = 0;
    int64_t m_DeadlineMs = 0;  // steady clock; 0: none
    Link m_Link;
    uint8_t m_Bytes[Size];

    size_t Available() const { return m_End - m_Begin; }
};

// Read-ahead buffers by socket number. A socket is used by one thread at a
// time and its buffer comes and goes with it, so the slots need no lock; the
// chunks of slots are made on first use and live as long as the process.
constexpr size_t SlotsPerChunk = 1024;
constexpr size_t ChunkCount = 16384;  // socket numbers below 16,777,216
using Slot = std::atomic<ReadAhead*>;
std::atomic<Slot*> g_Chunks[ChunkCount];

Slot* SlotOf(MonSocket s) {
    const size_t chunkIndex = static_cast<size_t>(s) / SlotsPerChunk;
    if (s < 0 || chunkIndex >= ChunkCount) {
        return nullptr;
    }
    Slot* chunk = g_Chunks[chunkIndex].load(std::memory_order_acquire);
    if (chunk == nullptr) {
        Slot* fresh = new (std::nothrow) Slot[SlotsPerChunk]();
        if (fresh == nullptr) {
            return nullptr;
        }
        if (g_Chunks[chunkIndex].compare_exchange_strong(chunk, fresh, std::memory_order_acq_rel)) {
            chunk = fresh;
        } else {
            delete[] fresh;  // another thread made it first
        }
    }
    return &chunk[static_cast<size_t>(s) % SlotsPerChunk];
}

// The socket's buffer, made on first use; null (last error 10055) when there
// is no memory for it.
ReadAhead* ReadAheadOf(MonSocket s) {
    Slot* slot = SlotOf(s);
    ReadAhead* buffer = slot ? slot->load(std::memory_order_acquire) : nullptr;
    if (buffer == nullptr) {
        buffer = slot ? new (std::nothrow) ReadAhead : nullptr;
        if (buffer == nullptr) {
            t_LastError = WsaENoBufs;
            return nullptr;
        }
        slot->store(buffer, std::memory_order_release);
    }
    return buffer;
}

// The socket's buffer when it has one; never makes one.
ReadAhead* ExistingReadAhead(MonSocket s) {
    Slot* slot = SlotOf(s);
    return slot ? slot->load(std::memory_order_acquire) : nullptr;
}

std::unique_ptr<ReadAhead> ReleaseReadAhead(MonSocket s) {
    Slot* slot = SlotOf(s);
    return std::unique_ptr<ReadAhead>(slot ? slot->exchange(nullptr, std::memory_order_acq_rel)
                                           : nullptr);
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// How long the next wait may last: the receive time-out, cut to what is
// left before the deadline. -1 when the deadline has passed.
int WaitLimitMs(const ReadAhead& buffer) {
    const int recvMs = g_RecvTimeoutMs.load();
    if (buffer.m_DeadlineMs == 0) {
        return recvMs;
    }
    const int64_t left = buffer.m_DeadlineMs - NowMs();
    if (left <= 0) {
        return -1;
    }
    return recvMs > 0 && recvMs < left ? recvMs : static_cast<int>(left);
}

// Records why TLS failed on the socket: from the platform when the socket
// itself failed, else as an aborted connection. After such a failure no
// close_notify may be sent.
void SetTlsError(Link& link, int error) {
    link.m_bFailed = true;
    if (error == SSL_ERROR_SYSCALL && errno != 0) {
        SetErrnoError();
        return;
    }
    t_LastError = WsaEConnAborted;
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    link.m_FailureReason = reason != nullptr ? reason : "";
}

// Waits as OpenSSL asks (it may need to write while reading, and read while
// writing), within what WaitLimitMs allows.
bool WaitForTls(MonSocket s, const ReadAhead& buffer, int error) {
    const int limit = WaitLimitMs(buffer);
    if (limit < 0) {
        t_LastError = WsaETimedOut;
        return false;
    }
    return WaitFor(s, error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, limit);
}

bool IsWant(int error) {
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
}

// Refill through TLS. The peer's close, with or without close_notify, reads
// as the end of the stream, as over plain TCP.
ssize_t TlsRefill(MonSocket s, ReadAhead& buffer) {
    Link& link = buffer.m_Link;
    for (;;) {
        if (buffer.m_DeadlineMs != 0 && NowMs() >= buffer.m_DeadlineMs) {
            t_LastError = WsaETimedOut;
            return -1;
        }
        ERR_clear_error();
        const int got = SSL_read(link.m_pSsl, buffer.m_Bytes + buffer.m_End,
                                 static_cast<int>(ReadAhead::Size - buffer.m_End));
        if (got > 0) {
            buffer.m_End += static_cast<size_t>(got);
            return got;
        }
        const int error = SSL_get_error(link.m_pSsl, got);
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        if (!IsWant(error)) {
            SetTlsError(link, error);
            return -1;
        }
        if (!WaitForTls(s, buffer, error)) return -1;
    }
}

// Sends the whole frame as one TLS write (partial writes are off), so the
// stream never falls out of step.
bool TlsSend(MonSocket s, ReadAhead& buffer, const uint8_t* frame, size_t size) {
    Link& link = buffer.m_Link;
    for (;;) {
        ERR_clear_error();
        const int sent = SSL_write(link.m_pSsl, frame, static_cast<int>(size));
        if (sent > 0) return true;
        const int error = SSL_get_error(link.m_pSsl, sent);
        if (!IsWant(error)) {
            SetTlsError(link, error);
            return false;
        }
        if (!WaitForTls(s, buffer, error)) return false;
    }
}

// Takes what is waiting on the socket into the free end of the buffer;
// when nothing is waiting, waits up to the receive time-out (and never past
// the deadline). Returns the count, 0 when the peer has closed, or -1 with
// the last error set.
ssize_t Refill(MonSocket s, ReadAhead& buffer) {
    if (buffer.m_Begin == buffer.m_End) {
        buffer.m_Begin = buffer.m_End = 0;
    } else if (buffer.m_End == ReadAhead::Size) {
        std::memmove(buffer.m_Bytes, buffer.m_Bytes + buffer.m_Begin, buffer.Available());
        buffer.m_End -= buffer.m_Begin;
        buffer.m_Begin = 0;
    }
    if (buffer.m_Link.m_pSsl != nullptr) {
        return TlsRefill(s, buffer);
    }
    int flags = MSG_DONTWAIT;
    for (;;) {
        if (buffer.m_DeadlineMs != 0 && NowMs() >= buffer.m_DeadlineMs) {
            t_LastError = WsaETimedOut;
            return -1;
        }
        const ssize_t got =
            ::recv(s, buffer.m_Bytes + buffer.m_End, ReadAhead::Size - buffer.m_End, flags);
        if (got >= 0) {
            buffer.m_End += static_cast<size_t>(got);
            return got;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int limit = WaitLimitMs(buffer);
            if (limit < 0) {
                t_LastError = WsaETimedOut;
                return -1;
            }
            if (!WaitFor(s, POLLIN, limit)) {
                return -1;
            }
            flags = MSG_DONTWAIT;
        } else if (errno != EINTR) {
            SetErrnoError();
            return -1;
        }
    }
}

// Moves up to `size` buffered bytes to `into` (nothing when `into` is
// null) and returns how many.
size_t Take(ReadAhead& buffer, uint8_t* into, size_t size) {
    const size_t count = std::min(size, buffer.Available());
    if (into != nullptr) {
        std::memcpy(into, buffer.m_Bytes + buffer.m_Begin, count);
    }
    buffer.m_Begin += count;
    return count;
}

// Takes exactly `size` bytes; false when the socket failed or closed first.
bool TakeExactly(MonSocket s, ReadAhead& buffer, uint8_t* into, size_t size) {
    while (size > 0) {
        if (buffer.Available() == 0 && Refill(s, buffer) <= 0) {
            return false;
        }
        const size_t taken = Take(buffer, into, size);
        size -= taken;
        if (into != nullptr) {
            into += taken;
        }
    }
    return true;
}

// Connects within `timeoutMs`; the socket stays blocking afterwards.
bool ConnectWithTimeout(MonSocket s, const MonAddress& address, int timeoutMs) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
        SetErrnoError();
        return false;
    }
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address.m_Address), address.m_Length) < 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            SetErrnoError();
            return false;
        }
        if (!WaitFor(s, POLLOUT, timeoutMs)) {
            return false;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) < 0) {
            SetErrnoError();
            return false;
        }
        if (error != 0) {
            t_LastError = WinSockCodeOfErrno(error);
            return false;
        }
    }
    if (::fcntl(s, F_SETFL, flags) < 0) {
        SetErrnoError();
        return false;
    }
    return true;
}

// Whether this thread's connect may go on with the socket (-1: the attempt
// is over); a connect given up is recorded as cancelled (10004).
bool MayConnect(MonSocket s) {
    if (!t_ConnectWatcher || t_ConnectWatcher(s)) {
        return true;
    }
    t_LastError = WsaEIntr;
    return false;
}

// One attempt at one address; -1 with the last error set. `givenUp` is set
// when the thread's connect watcher gave the connect up.
MonSocket ConnectTo(const MonAddress& address, int timeoutMs, bool& givenUp) {
    const int family = reinterpret_cast<const sockaddr&>(address.m_Address).sa_family;
    const MonSocket s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        SetErrnoError();
        return -1;
    }
    if (!MayConnect(s)) {
        givenUp = true;
        ::close(s);
        return -1;
    }
    const bool connected = ConnectWithTimeout(s, address, timeoutMs);
    // Even a connected socket is closed when the connect was given up
    // meanwhile: nobody waits for it any more.
    if (!MayConnect(-1)) {
        givenUp = true;
    }
    if (!connected || givenUp) {
        ::close(s);
        return -1;
    }
    return s;
}

}  // namespace

void Mon_TcpSetLastError(int32_t code) {
    t_LastError = code;
}

void Mon_TcpSetTimeouts(int connectMs, int recvMs) {
    g_ConnectTimeoutMs = connectMs;
    g_RecvTimeoutMs = recvMs;
}

void Mon_TcpError(int32_t* errorCode, char* errorText) {
    const int32_t code = t_LastError;
    const char* text = "Unknown WinSock error";
    for (const WinSockError& row : WinSockErrorTable) {
        if (row.m_Code == code) {
            text = row.m_Text;
            break;
        }
    }
    if (errorCode) {
        *errorCode = code;
    }
    if (errorText) {
        std::snprintf(errorText, ErrorTextSize, "WinSock error=%d %s", static_cast<int>(code),
                      text);
    }
}

// There is no socket library to start on this platform, so the open count
// only counts. A host with several addresses (IPv6 and IPv4) gets each in
// turn until one answers; they share the connect time-out, each taking an
// even part of what is left, so that one silent address cannot use it all.
// When none answers, the last one's error is reported.
MonSocket Mon_TcpConnect(const char* hostName, uint16_t port, int32_t* errorCode, char* errorText) {
    if (hostName == nullptr) {
        t_LastError = WsaEInval;
        return ReportLastError(errorCode, errorText);
    }
    std::vector<MonAddress> addresses;
    const int lookup = LookUp(hostName, port, addresses);
    if (lookup != 0 || addresses.empty()) {
        t_LastError = WinSockCodeOfLookup(lookup != 0 ? lookup : MonLookupNoIpv4);
        return ReportLastError(errorCode, errorText);
    }
    const int limitMs = g_ConnectTimeoutMs.load();
    const int64_t deadline = NowMs() + limitMs;
    bool givenUp = false;
    for (size_t i = 0; i < addresses.size() && !givenUp; ++i) {
        int timeoutMs = limitMs;
        if (limitMs > 0) {
            const int64_t left = std::max<int64_t>(deadline - NowMs(), 1);
            timeoutMs = static_cast<int>(left / static_cast<int64_t>(addresses.size() - i));
            timeoutMs = std::max(timeoutMs, 1);
        }
        const MonSocket s = ConnectTo(addresses[i], timeoutMs, givenUp);
        if (s >= 0) {
            std::atomic_ref<int32_t>(Mon_TcpOpenCount).fetch_add(1);
            return s;
        }
    }
    return ReportLastError(errorCode, errorText);
}

// The length field and the body go out as one frame; a short write is
// continued until the whole frame is on the wire, so the stream never falls
// out of step. MSG_NOSIGNAL turns a write to a closed peer into EPIPE (10054)
// instead of a signal that would end the process.
int32_t Mon_TcpSend(MonSocket s, uint16_t length, const void* body, int32_t* errorCode,
                    char* errorText) {
    if (s < 0) {
        FixedError(WsaEInval, "WSAEINVAL - Mon_TcpSend() invalid socket", errorCode, errorText);
        return -1;
    }
    uint8_t lengthField[2] = {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    if (ReadAhead* ahead = ExistingReadAhead(s); ahead != nullptr && ahead->m_Link.m_pSsl) {
        std::vector<uint8_t> frame(lengthField, lengthField + 2);
        frame.insert(frame.end(), static_cast<const uint8_t*>(body),
                     static_cast<const uint8_t*>(body) + length);
        if (!TlsSend(s, *ahead, frame.data(), frame.size())) {
            return ReportLastError(errorCode, errorText);
        }
        return length;
    }
    iovec parts[2] = {{lengthField, sizeof lengthField}, {const_cast<void*>(body), length}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = length > 0 ? 2 : 1;
    size_t remaining = sizeof lengthField + length;
    while (remaining > 0) {
        ssize_t sent = ::sendmsg(s, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetErrnoError();
            return ReportLastError(errorCode, errorText);
        }
        remaining -= static_cast<size_t>(sent);
        while (sent > 0 && message.msg_iovlen > 0) {
            iovec& first = message.msg_iov[0];
            const size_t taken = std::min(static_cast<size_t>(sent), first.iov_len);
            first.iov_base = static_cast<uint8_t*>(first.iov_base) + taken;
            first.iov_len -= taken;
            sent -= static_cast<ssize_t>(taken);
            if (first.iov_len == 0) {
                ++message.msg_iov;
                --message.msg_iovlen;
            }
        }
    }
    return length;
}

int32_t Mon_TcpRecv(MonSocket s, uint16_t capacity, void* buffer, int32_t* errorCode,
                    char* errorText) {
    if (s < 0) {
        FixedError(WsaEInval, "WSAEINVAL - Mon_TcpRecv() invalid socket", errorCode, errorText);
        return -1;
    }
    ReadAhead* ahead = ReadAheadOf(s);
    if (ahead == nullptr) {
        return ReportLastError(errorCode, errorText);
    }
    // Usually the whole message is in the buffer already.
    if (ahead->Available() >= 2) {
        const uint8_t* at = ahead->m_Bytes + ahead->m_Begin;
        const uint16_t length = static_cast<uint16_t>((at[0] << 8) | at[1]);
        if (length <= capacity && ahead->Available() >= size_t{2} + length) {
            std::memcpy(buffer, at + 2, length);
            ahead->m_Begin += size_t{2} + length;
            return length;
        }
    }
    uint8_t lengthField[2];
    size_t have = 0;
    while (have < sizeof lengthField) {
        if (ahead->Available() == 0) {
            const ssize_t got = Refill(s, *ahead);
            if (got < 0) {
                return ReportLastError(errorCode, errorText);
            }
            if (got == 0) {
                FixedError(WsaEConnReset, "WSAECONNRESET - recv() failed message length=0",
                           errorCode, errorText);
                return -1;
            }
        }
        have += Take(*ahead, lengthField + have, sizeof lengthField - have);
    }
    const uint16_t length = static_cast<uint16_t>((lengthField[0] << 8) | lengthField[1]);

    if (length > capacity) {
        // Consume exactly this body so that the next receive starts at the
        // next length field.
        TakeExactly(s, *ahead, nullptr, length);
        FixedError(WsaEMsgSize, "WSAEMSGSIZE - recv() invalid message length", errorCode,
                   errorText);
        return -1;
    }
    if (!TakeExactly(s, *ahead, static_cast<uint8_t*>(buffer), length)) {
        // A close inside the body records no error of its own: the last
        // error is reported as it stands.
        return ReportLastError(errorCode, errorText);
    }
    return length;
}

void Mon_TcpSetDeadline(MonSocket s, int ms) {
    if (s < 0) {
        return;
    }
    if (ReadAhead* ahead = ReadAheadOf(s)) {
        ahead->m_DeadlineMs = ms > 0 ? NowMs() + ms : 0;
    }
}

void Mon_TcpCancel(MonSocket s) {
    if (s >= 0) {
        ::shutdown(s, SHUT_RDWR);
    }
}

int32_t Mon_TcpClose(MonSocket s, int32_t* /*errorCode*/, char* /*errorText*/) {
    if (s >= 0) {
        // The tunnel (if any) ends after the socket: ssh then sees its
        // forwarded connection closed rather than broken.
        const std::unique_ptr<ReadAhead> ahead = ReleaseReadAhead(s);
        if (ahead) ahead->m_Link.EndTls();
        ::close(s);
        std::atomic_ref<int32_t>(Mon_TcpOpenCount).fetch_sub(1);
    }
    return 0;
}

bool Mon_TcpAttachTls(MonSocket s, ssl_st* ssl, int version, bool control,
                      const std::string& fingerprint) {
    ReadAhead* ahead = ReadAheadOf(s);
    if (ahead == nullptr) return false;
    ahead->m_Link.m_pSsl = ssl;
    ahead->m_Link.m_Version = version;
    ahead->m_Link.m_bControl = control;
    ahead->m_Link.m_Fingerprint = fingerprint;
    return true;
}

bool Mon_TcpAttachTunnel(MonSocket s, std::unique_ptr<MonSshTunnel> tunnel) {
    ReadAhead* ahead = ReadAheadOf(s);
    if (ahead == nullptr) return false;
    ahead->m_Link.m_pTunnel = std::move(tunnel);
    return true;
}

bool Mon_TcpWait(MonSocket s, bool forWrite) {
    ReadAhead* ahead = ReadAheadOf(s);
    return ahead != nullptr &&
           WaitForTls(s, *ahead, forWrite ? SSL_ERROR_WANT_WRITE : SSL_ERROR_WANT_READ);
}

std::string Mon_TcpTlsFailure(MonSocket s) {
    const ReadAhead* ahead = ExistingReadAhead(s);
    return ahead ? ahead->m_Link.m_FailureReason : std::string();
}

bool Mon_TcpWatchAgain(MonSocket s) {
    return MayConnect(s);
}

int Mon_TcpLinkVersion(MonSocket s) {
    const ReadAhead* ahead = ExistingReadAhead(s);
    return ahead ? ahead->m_Link.m_Version : 1;
}

MonLinkInfo Mon_TcpLinkInfo(MonSocket s) {
    MonLinkInfo info;
    if (const ReadAhead* ahead = ExistingReadAhead(s)) {
        info.m_bEncrypted = ahead->m_Link.m_pSsl != nullptr;
        info.m_bTunnel = ahead->m_Link.m_pTunnel != nullptr;
        info.m_Version = ahead->m_Link.m_Version;
        info.m_bControl = ahead->m_Link.m_bControl;
        info.m_Fingerprint = ahead->m_Link.m_Fingerprint;
    }
    return info;
}

void Mon_TcpWatchConnects(MonConnectWatcher watcher) {
    t_ConnectWatcher = std::move(watcher);
}

bool Mon_TcpConnectWanted() {
    return MayConnect(-1);
}

void Mon_TcpSetHostLookup(MonHostLookup lookup) {
    g_HostLookup = lookup;
}

void Mon_TcpSetAddressLookup(MonAddressLookup lookup) {
    g_AddressLookup = lookup != nullptr ? lookup : SystemAddressLookup;
}
