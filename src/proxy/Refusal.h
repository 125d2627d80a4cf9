#pragma once
// Why a client or a CONNECT was turned away, decided where it is turned
// away: the metrics count the decision, so that rewording a message never
// moves a count to another label.

#include <string>

enum class RefusedBy {
    Allow,           // the client's address is not in --allow
    Limit,           // a per-client or overall limit
    Rule,            // a block rule of the operator's
    OwnListener,     // one of the proxy's own listeners
    PrivateAddress,  // this machine's loopback or link-local, for a remote client
    Forbidden,       // port 0, the unspecified address, multicast, broadcast
    // A block a monitor client set, by what it names.
    UserBlock,
    ClientBlock,
    DestinationBlock,
};

struct Refusal {
    RefusedBy m_By = RefusedBy::Rule;
    std::string m_Text;  // as the log and the monitor show it

    bool operator==(const Refusal&) const = default;
};
