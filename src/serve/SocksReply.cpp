#include "SocksReply.h"

#include <cerrno>

const char* ReplyText(uint8_t code) {
    switch (code) {
        case ReplySucceeded:
            return "succeeded";
        case ReplyGeneralFailure:
            return "general SOCKS server failure";
        case ReplyNotAllowed:
            return "connection not allowed by ruleset";
        case ReplyNetworkUnreachable:
            return "network unreachable";
        case ReplyHostUnreachable:
            return "host unreachable";
        case ReplyConnectionRefused:
            return "connection refused";
        case ReplyTtlExpired:
            return "TTL expired";
        case ReplyCommandNotSupported:
            return "command not supported";
        case ReplyAddressTypeNotSupported:
            return "address type not supported";
        default:
            return "unknown reply";
    }
}

SocksReply ReplyForConnectError(int errorNumber) {
    switch (errorNumber) {
        case ECONNREFUSED:
            return ReplyConnectionRefused;
        case ENETUNREACH:
        case ENETDOWN:
            return ReplyNetworkUnreachable;
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return ReplyHostUnreachable;
        case ETIMEDOUT:
            return ReplyTtlExpired;
        default:
            return ReplyGeneralFailure;
    }
}
