#pragma once
// What the per-client limits count by: the client's address, an IPv6 one by
// its /64 (one machine may have the whole block to pick addresses from).

#include <cstddef>
#include <functional>

#include "core/base/Cidr.h"

Address16 ClientKey(const Address16& address);

struct Address16Hash {
    size_t operator()(const Address16& address) const {
        size_t hash = 1469598103934665603ull;
        for (uint8_t byte : address) hash = (hash ^ byte) * 1099511628211ull;
        return hash;
    }
};
