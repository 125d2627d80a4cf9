#pragma once
// What the rest of the client does with a MonNetAddress (declared with the
// record in MonStream.h): read it from a first-version socket address, parse
// and write it as text, compare it. IPv6 is written in its shortest form
// ("2001:db8::1"), IPv4 as a dotted quad.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/monitor/MonStream.h"

// Room for any address written by Mon_PutAddress, the zero included.
constexpr size_t MonAddressTextSize = 48;

// The IPv4 address of a 16-byte socket address (family AF_INET stored
// little-endian in bytes 0-1, port 2-3, address 4-7); family 0 for anything else.
MonNetAddress Mon_AddressOfSockAddr(const uint8_t (&socketAddress)[16]);
MonNetAddress Mon_Ipv4Address(uint32_t hostOrder, uint16_t port = 0);
// "10.0.0.1" or "2001:db8::1"; false for anything else.
bool Mon_ParseAddress(std::string_view text, MonNetAddress& address);
// The address as text at `at` (MonAddressTextSize bytes), the end returned;
// nothing for none or 0.0.0.0.
char* Mon_PutAddress(const MonNetAddress& address, char* at);
std::string Mon_AddressText(const MonNetAddress& address);
// The IPv4 address in host order; 0 for none or IPv6.
uint32_t Mon_Ipv4Value(const MonNetAddress& address);

inline bool Mon_HasAddress(const MonNetAddress& address) {
    return address.m_Family != 0;
}
bool operator==(const MonNetAddress& a, const MonNetAddress& b);
