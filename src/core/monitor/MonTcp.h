#pragma once
// Socket transport to a monitor: blocking TCP with length-prefixed messages
// (a 2-byte big-endian body length, then the body). Failures return -1 and
// fill the caller's error code and 128-byte error text with the WinSock code
// and text of the error table, whatever the platform's own error was.
// Each socket reads ahead into a buffer of its own (up to 64 KiB, freed by
// Mon_TcpClose), so a receive usually takes its message from memory.

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <vector>

using MonSocket = int;  // -1: no socket

// Sockets opened by Mon_TcpConnect and not yet closed by Mon_TcpClose
// (changed atomically: sessions connect and close on their own threads).
extern int32_t Mon_TcpOpenCount;

MonSocket Mon_TcpConnect(const char* hostName, uint16_t port, int32_t* errorCode, char* errorText);
int32_t Mon_TcpSend(MonSocket s, uint16_t length, const void* body, int32_t* errorCode,
                    char* errorText);
int32_t Mon_TcpRecv(MonSocket s, uint16_t capacity, void* buffer, int32_t* errorCode,
                    char* errorText);
int32_t Mon_TcpClose(MonSocket s, int32_t* errorCode, char* errorText);
void Mon_TcpError(int32_t* errorCode, char* errorText);
// errorText points to a caller buffer of 128 bytes.

// The transport's last error (thread-local, the value Mon_TcpError reports);
// failing platform calls set it, successful ones leave it alone.
void Mon_TcpSetLastError(int32_t code);

// How long a connect waits for the monitor (default 15000 ms) and a receive
// waits for the next byte (default 30000 ms) before failing with 10060.
// A value of 0 or less waits as long as the platform lets it.
void Mon_TcpSetTimeouts(int connectMs, int recvMs);

// A deadline for every wait of the socket's receives, in milliseconds from
// now (0 or less: none); a receive that would wait past it fails with 10060.
void Mon_TcpSetDeadline(MonSocket s, int ms);

// Shuts the socket down from any thread, so that a receive or send blocked
// on it returns at once; the socket stays open until Mon_TcpClose. On a
// socket still connecting it ends the attempt (no longer waiting for the
// peer's answer) and wakes the wait for it.
void Mon_TcpCancel(MonSocket s);

// Lets another thread give up this thread's connects with Mon_TcpCancel:
// the watcher is called here with each socket before its connect starts,
// and with -1 once that attempt is over, before the socket is closed or
// handed back. When it returns false the connect is given up: the socket is
// closed and Mon_TcpConnect fails at once with 10004, trying no other
// address. For the calling thread only; nullptr removes it.
using MonConnectWatcher = std::function<bool(MonSocket s)>;
void Mon_TcpWatchConnects(MonConnectWatcher watcher);
// Whether this thread's connect may still go on, asked of its watcher (with
// -1) by waits of a connect that are no socket's own, such as the start of
// an ssh tunnel; false records the connect as cancelled (10004). True when
// no watcher is set.
bool Mon_TcpConnectWanted();

// An address to connect to, as the system's lookup gives it.
struct MonAddress {
    sockaddr_storage m_Address;
    socklen_t m_Length;
};

// The host lookup behind Mon_TcpConnect: 0 with every address of the host
// (IPv6 and IPv4, with the port filled in) in the order they are to be tried,
// what getaddrinfo returned when it failed (EAI_...), or MonLookupNoIpv4 for
// a name without an address. Tests install their own so that no test depends
// on the machine's resolver; nullptr brings back the system's.
constexpr int MonLookupNoIpv4 = 1;  // getaddrinfo's failures are all negative
using MonAddressLookup = int (*)(const char* hostName, uint16_t port,
                                 std::vector<MonAddress>* addresses);
void Mon_TcpSetAddressLookup(MonAddressLookup lookup);

// A lookup of one IPv4 address (in network byte order), for tests that need
// no more; while one is installed it replaces the address lookup. nullptr
// removes it.
using MonHostLookup = int (*)(const char* hostName, uint32_t* address);
void Mon_TcpSetHostLookup(MonHostLookup lookup);
