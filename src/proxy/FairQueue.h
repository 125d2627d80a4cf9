#pragma once
// Jobs of many clients for a few threads, in fair shares: each client key
// (ClientKey: the IPv4 address, the IPv6 /64) has at most a few jobs running
// and the rest wait in a queue of its own; the keys take turns, one job each.
// A client that sends a thousand jobs makes only itself wait. Not locked: the
// pool that runs the jobs holds its own lock around it.

#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>

#include "ClientKey.h"

class FairQueue {
public:
    using Job = std::function<void()>;
    struct Turn {
        Address16 m_Key;
        Job m_Job;
    };

    explicit FairQueue(size_t perKey) : m_PerKey(perKey) {}
    // `ahead`: a key that has no turn yet takes the first one, not the last
    // (for a client that has given no reason to wait).
    void Push(const Address16& client, Job job, bool ahead = false);
    // The next job to run, counted as running until Done(m_Key); nothing
    // while every key with jobs waiting has its share running.
    std::optional<Turn> Take();
    void Done(const Address16& key);
    size_t Waiting() const { return m_Waiting; }

private:
    struct Client {
        std::deque<Job> m_Jobs;
        size_t m_Running = 0;
        bool m_bInTurns = false;
    };
    // Puts the key at the end (or the front) of the turns when it has a job it may start.
    void Offer(const Address16& key, Client& client, bool ahead = false);

    const size_t m_PerKey;
    std::unordered_map<Address16, Client, Address16Hash> m_Clients;
    std::deque<Address16> m_Turns;
    size_t m_Waiting = 0;
};
