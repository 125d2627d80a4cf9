// Which handshake a full budget drops: the oldest of the key holding the
// most, an IPv6 client counted by its /48 before its /64.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HandshakeBudget.h"
#include "ProxyPartsTest.h"

namespace {
namespace budget_test {

TEST(HandshakeBudgetTest, AFullBudgetDropsTheOldestOfTheLargestKey) {
    HandshakeBudget budget;
    std::vector<std::string> closed;
    const auto enter = [&](const std::string& client, const std::string& name) {
        HandshakeBudget::Close dropped;
        const uint64_t ticket = budget.Enter(
            Address(client), [&closed, name] { closed.push_back(name); }, 5, dropped);
        if (dropped) dropped();
        return ticket;
    };
    // Three /64s of one /48 hold more than the one IPv4 address with two.
    enter("2001:db8:1:a::1", "a");
    enter("192.0.2.1", "v4 first");
    enter("2001:db8:1:b::1", "b");
    enter("2001:db8:1:c::1", "c");
    const uint64_t second = enter("192.0.2.1", "v4 second");
    EXPECT_TRUE(closed.empty());
    enter("198.51.100.1", "newcomer");
    EXPECT_EQ(closed, (std::vector<std::string>{"a"}));
    // Two each now: the older of the two keys loses its oldest.
    enter("198.51.100.2", "another");
    EXPECT_EQ(closed.back(), "v4 first");
    // One that ends leaves room; one already dropped changes nothing.
    budget.Leave(second);
    budget.Leave(second);
    EXPECT_EQ(budget.Size(), 4u);
    enter("198.51.100.3", "fits");
    EXPECT_EQ(closed.size(), 2u);
}

}  // namespace budget_test
}  // namespace
