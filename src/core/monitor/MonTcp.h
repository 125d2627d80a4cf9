#pragma once
// Socket transport to a monitor: blocking TCP with length-prefixed messages
// (a 2-byte big-endian body length, then the body). Failures return -1 and
// fill the caller's error code and 128-byte error text with the WinSock code
// and text of the error table, whatever the platform's own error was.
// Each socket reads ahead into a buffer of its own (up to 64 KiB, freed by
// Mon_TcpClose), so a receive usually takes its message from memory.

#include <cstdint>

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
// on it returns at once; the socket stays open until Mon_TcpClose.
void Mon_TcpCancel(MonSocket s);

// The host lookup behind Mon_TcpConnect: 0 with the host's IPv4 address (in
// network byte order), what getaddrinfo returned when it failed (EAI_...), or
// MonLookupNoIpv4 for a name without an IPv4 address. Tests install their own
// so that no test depends on the machine's resolver; nullptr brings back the
// system's.
constexpr int MonLookupNoIpv4 = 1;  // getaddrinfo's failures are all negative
using MonHostLookup = int (*)(const char* hostName, uint32_t* address);
void Mon_TcpSetHostLookup(MonHostLookup lookup);
