#pragma once
// Where a CONNECT may go. Always refused: the proxy's own listeners (its
// SOCKS5 port, its monitor, its metrics), in whatever form the address comes
// (a listener on 0.0.0.0 or :: is reached through every address of this
// machine, an IPv4 one also as IPv4-mapped IPv6). Then the operator's rules,
// first match wins. A client of another machine is refused loopback,
// link-local and unspecified destinations unless a pass rule names the block
// that holds the destination: a proxy must not open this machine's private
// services to the network.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Asio.h"
#include "DestRule.h"
#include "Refusal.h"

class DestinationPolicy {
public:
    struct Query {
        Address16 m_Client{};
        std::string m_User;
        std::string m_Name;  // empty for a request by address
        uint16_t m_Port = 0;
    };

    DestinationPolicy() { RefreshLocalAddresses(); }

    void AddOwnListener(const tcp::endpoint& endpoint);
    // The addresses of this machine's interfaces, read again (whenever they
    // change); what changed, for the log ("added 10.0.0.7"), empty when nothing did.
    std::string RefreshLocalAddresses();
    bool IsLocal(const Address16& address) const;

    // Before a name is looked up: the refusal when a rule refuses the name
    // already, nothing when the addresses must be seen.
    std::optional<Refusal> RefuseName(const std::vector<DestRule>& rules, const Query& query) const;
    // For an address to connect to: nothing when allowed, else why not.
    std::optional<Refusal> RefuseAddress(const std::vector<DestRule>& rules, const Query& query,
                                         const asio::ip::address& dest) const;

private:
    struct Own {
        Address16 m_Address;
        bool m_bAny;  // 0.0.0.0 or ::
        uint16_t m_Port;
    };
    bool IsOwnListener(const Address16& address, uint16_t port) const;

    std::vector<Own> m_Own;  // set before the listeners start, read-only after
    mutable std::mutex m_Mutex;
    std::vector<Address16> m_Local;
};

// Loopback, link-local or unspecified, in either family or IPv4-mapped.
bool IsPrivateToHost(const Address16& address);
// A warning for each pass rule whose destinations take in some of those
// addresses: such a rule opens them to clients of other machines, and a
// catch-all such as 0.0.0.0/0 does so without saying.
std::vector<std::string> PrivatePassWarnings(const std::vector<DestRule>& rules);
