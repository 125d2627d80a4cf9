#pragma once
// What is known of an open connection that a block may cover: the session
// tells the registry as it learns it, and a new block reads it there to close
// the connections it covers.

#include <optional>
#include <string>

#include "core/base/Cidr.h"

struct SessionFacts {
    std::string m_User;  // as the client sent it
    Address16 m_Client{};
    std::string m_DestName;                  // the request's host name; empty for an address
    std::optional<Address16> m_DestAddress;  // the request's address, or the one connected to
};
