#include "ClientKey.h"

Address16 ClientKey(const Address16& address) {
    static const Cidr v4 = *Cidr::Parse("::ffff:0:0/96");
    if (v4.Contains(address)) return address;
    Address16 key = address;
    for (size_t i = 8; i < key.size(); ++i) key[i] = 0;
    return key;
}
