#pragma once
// The names by which the filter and the grouping know a connection's hosts,
// independent of whether the grid shows names or addresses.

#include <cstdint>
#include <string>

class EntryObj;

// The dotted IPv4 address of a 16-byte socket address; empty when none is known.
std::string AddressText(const uint8_t (&socketAddress)[16]);
// The same from the address in host order, written at `at` (16 bytes hold
// any); returns the end.
char* PutAddress(uint32_t address, char* at);
// The IPv4 address in host order, 0 when none is known.
uint32_t AddressValue(const uint8_t (&socketAddress)[16]);
// A destination by its host name, or by its address when it has none.
std::string DestinationKey(const EntryObj& entry);
// A client by its source address, or by its name when no address is known.
std::string ClientKey(const EntryObj& entry);
