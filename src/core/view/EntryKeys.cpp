#include "core/view/EntryKeys.h"

#include <charconv>

#include "core/table/EntryObj.h"

uint32_t AddressValue(const uint8_t (&socketAddress)[16]) {
    // Bytes 4..7 of an IPv4 socket address, in network order.
    return static_cast<uint32_t>(socketAddress[4]) << 24 |
           static_cast<uint32_t>(socketAddress[5]) << 16 |
           static_cast<uint32_t>(socketAddress[6]) << 8 | socketAddress[7];
}

std::string AddressText(const uint8_t (&socketAddress)[16]) {
    if (AddressValue(socketAddress) == 0) return std::string();
    char text[16];
    char* const end = text + sizeof text;
    char* at = text;
    for (int i = 4; i < 8; ++i) {
        if (i > 4 && at != end) *at++ = '.';
        at = std::to_chars(at, end, socketAddress[i]).ptr;
    }
    return std::string(text, at);
}

std::string DestinationKey(const EntryObj& entry) {
    return entry.m_DestName.empty() ? AddressText(entry.m_DestAddr) : entry.m_DestName;
}

std::string ClientKey(const EntryObj& entry) {
    std::string address = AddressText(entry.m_SourceAddr);
    return address.empty() ? entry.m_SourceName : address;
}
