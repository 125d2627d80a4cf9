#pragma once
// Connections and handshakes in progress per client address, so that one
// address cannot take the slots of everyone else before it has even
// authenticated. Also says when a refusal is worth a monitor record: the
// first one of an address, then at most one a minute, so that a flood does
// not become a flood of records.

#include <chrono>
#include <mutex>
#include <unordered_map>

#include "ClientKey.h"

class ClientLimits {
public:
    enum class Verdict { Admitted, TooManyConnections, TooManyHandshakes };

    // Counts a new connection in its handshake, unless the address already
    // holds the most of either.
    Verdict Enter(const Address16& client, size_t maxConnections, size_t maxHandshakes);
    void HandshakeDone(const Address16& client);
    void Leave(const Address16& client, bool inHandshake);

    // True when this refusal should be reported.
    bool ShouldReport(const Address16& client);

private:
    struct Counts {
        size_t m_Connections = 0;
        size_t m_Handshakes = 0;
    };
    struct Reported {
        std::chrono::steady_clock::time_point m_Last;
    };

    std::mutex m_Mutex;
    std::unordered_map<Address16, Counts, Address16Hash> m_Counts;
    std::unordered_map<Address16, Reported, Address16Hash> m_Reported;
};
