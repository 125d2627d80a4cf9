#pragma once
// The names by which the filter and the grouping know a connection's hosts,
// independent of whether the grid shows names or addresses.

#include <cstdint>
#include <string>

#include "core/monitor/MonNetAddress.h"

class EntryObj;

// The address as text ("10.0.0.1", "2001:db8::1"); empty when none is known.
std::string AddressText(const MonNetAddress& address);
// An IPv4 address in host order as a dotted quad, written at `at` (16 bytes
// hold any); returns the end.
char* PutAddress(uint32_t address, char* at);
// The IPv4 address in host order, 0 when none is known or it is IPv6.
uint32_t AddressValue(const MonNetAddress& address);
// A destination by its host name, or by its address when it has none.
std::string DestinationKey(const EntryObj& entry);
// A client by its source address, or by its name when no address is known.
std::string ClientKey(const EntryObj& entry);
