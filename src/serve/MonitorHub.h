#pragma once
// Where proxied connections meet the monitor's clients. Sessions report
// opens, results and closes (cheap: a lock and an append per client); each
// monitor client collects them until it asks, and then gets them in order,
// with one update per connection carrying its latest totals. Traffic itself
// never reaches the hub, so a client that stops asking costs memory in
// proportion to the connections, never to the bytes; past MaxPending events
// it is dropped rather than allowed to grow.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "ConnectionInfo.h"

class MonitorHub {
public:
    static constexpr size_t MaxPending = 50000;

    class Feed;

    explicit MonitorHub(uint32_t idHigh) : m_IdHigh(idHigh) {}

    void Open(const std::shared_ptr<ConnectionInfo>& info);
    void Result(const std::shared_ptr<ConnectionInfo>& info);
    void Close(const std::shared_ptr<ConnectionInfo>& info);

    // A new client first hears of every connection open at the time.
    std::shared_ptr<Feed> Attach();
    void Detach(const std::shared_ptr<Feed>& feed);
    // The framed batch for one request, ended by the empty message; false when
    // the client fell too far behind and must be disconnected.
    // `version`: of the records, as negotiated with the client (1 or 2).
    bool TakeBatch(Feed& feed, MonBytes& batch, int version = 1);
    // True when every client has been sent every record posted so far.
    bool AllDelivered();

private:
    MonBytes EncodeOpenFor(int version, const ConnectionInfo& info) const;
    enum class EventKind : uint8_t { Open, Result, Close };
    struct Event {
        EventKind m_Kind;
        std::shared_ptr<ConnectionInfo> m_Info;
    };

    void Post(EventKind kind, const std::shared_ptr<ConnectionInfo>& info);

    const uint32_t m_IdHigh;
    std::mutex m_Mutex;
    std::map<uint32_t, std::shared_ptr<ConnectionInfo>> m_Live;
    std::vector<std::shared_ptr<Feed>> m_Feeds;
};

class MonitorHub::Feed {
    friend class MonitorHub;
    struct Sent {
        uint64_t m_In = 0, m_Out = 0;
        uint32_t m_Version = 0;
    };
    void EncodeUpdate(uint32_t idHigh, const ConnectionInfo& info, MonBytes& batch, int version);

    std::vector<Event> m_Pending;               // under the hub's lock
    bool m_bOverflow = false;                   // under the hub's lock
    std::unordered_map<uint32_t, Sent> m_Sent;  // only its own client touches it
};
