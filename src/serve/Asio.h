#pragma once
// Standalone Asio with C++20 coroutines, as every part of the proxy uses it.

#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <chrono>
#include <string>

#include "core/base/Cidr.h"

using asio::awaitable;
using asio::use_awaitable;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// Completes without throwing; the error lands in `error`.
inline auto NoThrow(std::error_code& error) {
    return asio::redirect_error(use_awaitable, error);
}

// The address in the 16-byte form the allow lists compare; IPv4 mapped.
Address16 ToAddress16(const asio::ip::address& address);
// "1.2.3.4:80" or "[::1]:80".
std::string EndpointText(const tcp::endpoint& endpoint);
// The numeric text of an address; an IPv4-mapped one shows as IPv4.
std::string HostText(const asio::ip::address& address);
