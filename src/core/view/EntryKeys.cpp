#include "core/view/EntryKeys.h"

#include <charconv>

#include "core/table/EntryObj.h"

uint32_t AddressValue(const uint8_t (&socketAddress)[16]) {
    // Bytes 4..7 of an IPv4 socket address, in network order.
    return static_cast<uint32_t>(socketAddress[4]) << 24 |
           static_cast<uint32_t>(socketAddress[5]) << 16 |
           static_cast<uint32_t>(socketAddress[6]) << 8 | socketAddress[7];
}

char* PutAddress(uint32_t address, char* at) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) *at++ = '.';
        at = std::to_chars(at, at + 3, (address >> shift) & 0xFFu).ptr;
    }
    return at;
}

std::string AddressText(const uint8_t (&socketAddress)[16]) {
    const uint32_t address = AddressValue(socketAddress);
    if (address == 0) return std::string();
    char text[16];
    return std::string(text, PutAddress(address, text));
}

std::string DestinationKey(const EntryObj& entry) {
    return entry.m_DestName.empty() ? AddressText(entry.m_DestAddr) : entry.m_DestName;
}

std::string ClientKey(const EntryObj& entry) {
    std::string address = AddressText(entry.m_SourceAddr);
    return address.empty() ? entry.m_SourceName : address;
}
