#pragma once
// Made-up but plausible traffic of a SOCKS5 proxy, one simulated second at a
// time: clients of a small office open connections to well-known services,
// the connections move bytes at their own pace (a few chained through a
// next SOCKS5 server), now and then one fails with a SOCKS reply code, and
// all of them close in the end.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "DemoWire.h"

namespace demo {

struct DemoService;

// A connection that ended: enough to make its close record later.
struct DemoClose {
    uint32_t m_IdLow = 0;
    uint32_t m_EndTime = 0;
};

class DemoTraffic {
public:
    static constexpr int DefaultConnections = 17;

    // About `connections` are active at any time: a small office by default,
    // a busy proxy when asked for thousands.
    DemoTraffic(uint32_t seed, int64_t now, int connections = DefaultConnections);

    // Runs the simulation up to `now` (seconds since 1970), appending the
    // records it produces in order. Without `records` (no client would get
    // them) the traffic moves on just the same, and fewer records are made.
    // The connections that end are appended to `closes` either way.
    void AdvanceTo(int64_t now, std::vector<Body>* records, std::vector<DemoClose>* closes);
    // Records that tell a newly connected client about every connection that
    // is active: its open, its latest update and its result when sent. Made
    // once per simulated second, however many clients ask.
    SharedFrames Snapshot();
    size_t ActiveCount() const { return m_Active.size(); }
    // The close records of those connections, in their order.
    SharedFrames CloseRecords(const std::vector<DemoClose>& closes) const;
    // Ids are given in order: every connection made so far has a lower one.
    uint32_t NextIdLow() const { return m_NextIdLow; }

private:
    struct Connection {
        uint32_t m_IdLow = 0;
        const DemoService* m_Service = nullptr;
        // The records that never change once made, kept for the snapshots.
        Body m_OpenRecord;
        Body m_ResultRecord;  // empty until sent
        UpdateFields m_Update;
        int64_t m_End = 0;
        int64_t m_NextUpdate = 0;
        int64_t m_ResultAt = 0;
        double m_RateIn = 0, m_RateOut = 0;
        double m_BytesIn = 0, m_BytesOut = 0;
        uint32_t m_ResultCode = 0;  // non-zero: the connection fails
    };

    void Step(int64_t t, std::vector<Body>* records, std::vector<DemoClose>* closes);
    // The connection's open fields go to `open`: only its record is kept.
    Connection MakeConnection(int64_t start, OpenFields& open);
    void Move(Connection& c, int64_t seconds);
    double PaceSum(int64_t seconds);
    Body UpdateOf(const Connection& c) const;
    Body ResultOf(const Connection& c) const;
    void SendResult(Connection& c, std::vector<Body>* records) const;
    int Uniform(int low, int high);
    double Real(double low, double high);
    bool Chance(double p);

    std::mt19937 m_Random;
    uint32_t m_IdHigh;
    uint32_t m_NextIdLow = 1;
    int64_t m_Now;
    double m_Scale;  // the connections asked for, over the default
    std::vector<Connection> m_Active;
    SharedFrames m_pSnapshot;  // of m_Now; null until asked for
};

}  // namespace demo
