#pragma once
// One listening socket and its accept loop, shared by the SOCKS5 listener,
// the monitor's and the metrics': each accepted client lands on the next I/O
// thread of the pool and is admitted or closed by the owner's rule.

#include <functional>
#include <string>
#include <vector>

#include "Asio.h"
#include "IoPool.h"
#include "RefusalLog.h"
#include "ServerLog.h"

class Listener {
public:
    // True to keep the client; a refusal is the rule's to log.
    using Admit = std::function<bool(const tcp::endpoint& client)>;
    // With the client's address as the rule saw it: the socket may have lost it since.
    using Take = std::function<void(tcp::socket socket, const tcp::endpoint& client)>;

    Listener(IoPool& pool, const ServerLog& log, Admit admit, Take take)
        : m_Pool(pool),
          m_Log(log),
          m_Admit(std::move(admit)),
          m_Take(std::move(take)),
          m_Acceptor(pool.Main()) {}
    // False with a message when the address cannot be bound.
    bool Listen(const std::string& host, uint16_t port, std::string& error);
    void Start();
    // On the main thread: stops the accept loop and frees the address.
    void Close();
    std::string Where() const;
    tcp::endpoint Endpoint() const;

private:
    awaitable<void> Accept();

    IoPool& m_Pool;
    const ServerLog& m_Log;
    Admit m_Admit;
    Take m_Take;
    tcp::acceptor m_Acceptor;
};

bool IsAllowed(const std::vector<Cidr>& blocks, const asio::ip::address& address);
// The rule of the monitor's and the metrics' listeners: a client of the
// allowed blocks while fewer than `limit` clients of the kind are connected;
// a refusal goes to the refusal log. `kind` ("monitor", "metrics") names the
// clients in the log, and the options --KIND-allow and --max-KIND-clients.
bool AdmitWatcher(RefusalLog& refusals, const std::string& kind, const tcp::endpoint& client,
                  const std::vector<Cidr>& allow, size_t connected, size_t limit);
