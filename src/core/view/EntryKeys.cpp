#include "core/view/EntryKeys.h"

#include <charconv>

#include "core/table/EntryObj.h"

uint32_t AddressValue(const MonNetAddress& address) {
    return Mon_Ipv4Value(address);
}

char* PutAddress(uint32_t address, char* at) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) *at++ = '.';
        at = std::to_chars(at, at + 3, (address >> shift) & 0xFFu).ptr;
    }
    return at;
}

std::string AddressText(const MonNetAddress& address) {
    return Mon_AddressText(address);
}

std::string DestinationKey(const EntryObj& entry) {
    return entry.m_DestName.empty() ? AddressText(entry.m_Dest) : entry.m_DestName;
}

std::string ClientKey(const EntryObj& entry) {
    std::string address = AddressText(entry.m_Source);
    return address.empty() ? entry.m_SourceName : address;
}
