#pragma once
// The counters vgl-proxy offers to Prometheus, and their text exposition.
// Label sets stay bounded whatever clients and users do: users are the ones
// the operator lists (--metrics-users), or without a list the first UserLimit
// ones seen, anyone else "other"; services the first ServiceLimit ones seen
// (later ones count as "other"); results and reasons fixed lists.

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "MonitorRefusal.h"
#include "Refusal.h"
#include "core/monitor/MonControl.h"

// Why a client ended before it made a request.
enum class HandshakeEnd { Timeout, Authentication, NoMethod, Malformed, Closed, Shutdown, Dropped };


class ProxyMetrics {
public:
    static constexpr size_t ServiceLimit = 20;
    static constexpr size_t UserLimit = 20;

    // The running byte counts of one user and service; stable for the life of the process.
    struct Traffic {
        std::atomic<uint64_t> m_In{0};
        std::atomic<uint64_t> m_Out{0};
    };

    // Every counter with each of its known label values, at 0: a rule or a
    // rate() over one sees it before its first event, and after a restart.
    ProxyMetrics();

    // `listed`: the users with labels of their own; empty for the first UserLimit seen.
    Traffic& TrafficOf(const std::string& user, const std::string& service,
                       const std::vector<std::string>& listed = {});
    void Opened(const std::string& result);  // e.g. "succeeded", "host_unreachable"
    void HandshakeFailed(HandshakeEnd reason);
    void Refused(RefusedBy by);
    void MonitorRefused(MonitorRefusal reason);
    void Looked(bool found, bool timedOut, std::chrono::duration<double> took);
    // A control request of a monitor client that reached the proxy, and its answer.
    void Controlled(MonControlOp op, MonControlStatus status);

    // The exposition; `open`, the connections open now; `blocks`, the blocks
    // in force by what they name (user, client, destination).
    std::string Text(size_t open, size_t monitorClients,
                     const std::array<size_t, 3>& blocks = {}) const;

private:
    static constexpr std::array<double, 10> LookupBuckets = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                             0.25,  0.5,  1,     2.5,  5};

    void Count(std::map<std::string, uint64_t>& counts, const std::string& key);
    // Under the lock: `name`, or "other" once `limit` names have labels.
    static std::string FirstSeen(std::set<std::string>& seen, size_t limit,
                                 const std::string& name);

    mutable std::mutex m_Mutex;
    std::map<std::pair<std::string, std::string>, std::unique_ptr<Traffic>> m_Traffic;
    std::set<std::string> m_Services, m_Users;  // the ones with a label of their own
    std::map<std::string, uint64_t> m_Opened, m_HandshakeFailures, m_Refused, m_Lookups,
        m_MonitorRefused;
    std::map<std::pair<std::string, std::string>, uint64_t> m_Controls;  // action, result
    std::array<uint64_t, LookupBuckets.size()> m_LookupBucketCounts{};
    uint64_t m_LookupCount = 0;
    double m_LookupSeconds = 0;
};

// The label of a result code of a CONNECT: "succeeded", "not_allowed", ...
std::string ReplyLabel(uint8_t code);
