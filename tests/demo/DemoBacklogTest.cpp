// The demo monitor's answers to a client that asks too seldom: a snapshot
// instead of its backlog, after the close of every connection it was told of
// that ended meanwhile.

#include <gtest/gtest.h>

#include <set>

#include "DemoBacklog.h"
#include "core/monitor/MonRecordKind.h"

namespace {

constexpr int64_t Start = 1700000000;

uint32_t IdLowOf(const uint8_t* body) {
    return uint32_t(body[5]) << 24 | uint32_t(body[6]) << 16 | uint32_t(body[7]) << 8 | body[8];
}

// Applies the answer to the connections the client holds open, as VGL does;
// a close must be of one of them.
void Apply(const std::vector<demo::SharedFrames>& answer, std::set<uint32_t>& open) {
    for (const demo::SharedFrames& frames : answer) {
        const demo::Body& bytes = frames->m_Bytes;
        for (size_t at = 0; at + 2 < bytes.size(); at += 2 + (bytes[at] << 8 | bytes[at + 1])) {
            const uint8_t* body = bytes.data() + at + 2;
            const uint32_t id = IdLowOf(body);
            if (body[0] == MonOpenKind.m_Byte) {
                open.insert(id);
            } else if (body[0] == MonCloseKind.m_Byte) {
                EXPECT_EQ(open.erase(id), 1u) << "a close of " << id << ", not open";
            }
        }
    }
}

TEST(DemoBacklogTest, AClientThatFellBehindStillGetsTheCloseOfEveryConnectionThatEnded) {
    demo::DemoTraffic traffic(1, Start, 1000);
    demo::DemoBacklog backlog;
    std::set<uint32_t> open;
    Apply(backlog.Take(traffic), open);
    // A few hundred records a second: asked after 5 s it gets them, after
    // two minutes more it is far behind.
    int64_t now = Start;
    for (const int64_t asked : {Start + 5, Start + 125}) {
        while (now < asked) {
            std::vector<demo::Body> records;
            std::vector<demo::DemoClose> closes;
            traffic.AdvanceTo(++now, backlog.WantsRecords() ? &records : nullptr, &closes);
            backlog.Add(demo::FrameRecords(records), closes, traffic.ActiveCount());
        }
        EXPECT_EQ(backlog.WantsRecords(), asked == Start + 5);
        Apply(backlog.Take(traffic), open);
    }
    // It holds open just what is active: none that ended was missed.
    std::set<uint32_t> active;
    Apply({traffic.Snapshot()}, active);
    EXPECT_EQ(open, active);
}

}  // namespace
