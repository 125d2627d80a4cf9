// The fair queue of lookups and password checks: each client key runs at most
// its share, and the keys take turns, so a key with many jobs waits for itself.

#include <gtest/gtest.h>

#include "FairQueue.h"
#include "ProxyPartsTest.h"

namespace {
namespace fair_test {

// Runs every job that may start now; `running` gets the key of each.
void TakeAll(FairQueue& queue, std::vector<Address16>& running) {
    while (auto turn = queue.Take()) {
        turn->m_Job();
        running.push_back(turn->m_Key);
    }
}

TEST(FairQueueTest, KeysTakeTurnsAndEachRunsAtMostItsShare) {
    FairQueue queue(2);
    std::string order;
    const auto job = [&order](char name) { return [&order, name] { order += name; }; };
    // A flood from one address, then one job each from two others (one of
    // them an IPv6 /64, whatever address of it the client picks).
    for (int i = 0; i < 5; ++i) queue.Push(Address("203.0.113.9"), job('a'));
    queue.Push(Address("198.51.100.4"), job('b'));
    queue.Push(Address("2001:db8:0:1::1"), job('c'));
    queue.Push(Address("2001:db8:0:1:ffff::2"), job('c'));
    std::vector<Address16> running;
    TakeAll(queue, running);
    EXPECT_EQ(order, "abcac");  // the flood has two running, the rest wait
    EXPECT_EQ(queue.Waiting(), 3u);
    EXPECT_FALSE(queue.Take());

    // An ending job lets only its own key start another.
    queue.Done(running[1]);  // b's
    EXPECT_FALSE(queue.Take());
    queue.Done(running[0]);  // one of a's
    TakeAll(queue, running);
    EXPECT_EQ(order, "abcaca");
    // A key that comes while the flood waits goes before the flood's next job.
    queue.Push(Address("192.0.2.1"), job('d'));
    queue.Done(running[3]);  // another of a's
    TakeAll(queue, running);
    EXPECT_EQ(order, "abcacada");
    EXPECT_EQ(queue.Waiting(), 1u);
    // One with no reason to wait takes the first turn.
    queue.Done(running[5]);
    queue.Push(Address("192.0.2.2"), job('e'), true);
    TakeAll(queue, running);
    EXPECT_EQ(order, "abcacadaea");
}

}  // namespace fair_test
}  // namespace
