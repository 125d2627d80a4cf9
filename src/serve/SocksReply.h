#pragma once
// SOCKS5 reply codes and the texts the monitor and the log give them: the
// result codes every monitor of ours reports (vgl-proxy, vgl-monitor).

#include <cstdint>

enum SocksReply : uint8_t {
    ReplySucceeded = 0x00,
    ReplyGeneralFailure = 0x01,
    ReplyNotAllowed = 0x02,
    ReplyNetworkUnreachable = 0x03,
    ReplyHostUnreachable = 0x04,
    ReplyConnectionRefused = 0x05,
    ReplyTtlExpired = 0x06,
    ReplyCommandNotSupported = 0x07,
    ReplyAddressTypeNotSupported = 0x08,
};

// Results the monitor reports past the SOCKS5 reply codes, so that they keep
// their own meaning: for connections that never got as far as a request, and
// for one a monitor client closed.
enum MonitorResult : uint32_t {
    ResultAuthenticationFailed = 0x101,
    ResultRefusedByLimit = 0x102,
    // Closed by a monitor client marked act ("closed by NAME").
    ResultClosedByControl = 0x103,
};

const char* ReplyText(uint8_t code);
// The reply for a connect attempt that failed with this errno value.
SocksReply ReplyForConnectError(int errorNumber);
