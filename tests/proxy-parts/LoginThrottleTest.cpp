// The throttle of wrong passwords, on a clock of the test's: the wait doubles
// up to its limit, stays with the address (an IPv6 one by its /64) and is
// forgotten after a quiet spell or a success.

#include <gtest/gtest.h>

#include "LoginThrottle.h"
#include "ProxyPartsTest.h"

namespace {
namespace throttle_test {

using std::chrono::milliseconds;

TEST(LoginThrottleTest, EachFailureDoublesTheWaitUpToItsLimit) {
    LoginThrottle throttle;
    const LoginThrottle::TimePoint start{};
    const Address16 guesser = Address("203.0.113.9");
    EXPECT_EQ(throttle.Delay(guesser, start), milliseconds(0));
    const milliseconds expected[] = {milliseconds(250),  milliseconds(500),  milliseconds(1000),
                                     milliseconds(2000), milliseconds(4000), milliseconds(4000)};
    for (const milliseconds wait : expected) {
        throttle.Failed(guesser, start);
        EXPECT_EQ(throttle.Delay(guesser, start), wait);
    }
    for (int i = 0; i < 100; ++i) throttle.Failed(guesser, start);  // no overflow past the limit
    EXPECT_EQ(throttle.Delay(guesser, start), LoginThrottle::MaxDelay);
    EXPECT_EQ(throttle.Delay(Address("203.0.113.10"), start), milliseconds(0));
    EXPECT_EQ(throttle.Delay(Address("::ffff:203.0.113.9"), start), LoginThrottle::MaxDelay);

    // One IPv6 machine may pick any address of its /64, but not of the next one.
    throttle.Failed(Address("2001:db8:0:1::1"), start);
    EXPECT_EQ(throttle.Delay(Address("2001:db8:0:1:ffff::2"), start), LoginThrottle::FirstDelay);
    EXPECT_EQ(throttle.Delay(Address("2001:db8:0:2::1"), start), milliseconds(0));
}

TEST(LoginThrottleTest, AQuietSpellOrASuccessForgetsTheFailures) {
    LoginThrottle throttle;
    const LoginThrottle::TimePoint start{};
    const LoginThrottle::TimePoint later = start + LoginThrottle::Forget;
    const Address16 client = Address("198.51.100.4");
    throttle.Failed(client, start);
    throttle.Failed(client, start);
    EXPECT_EQ(throttle.Delay(client, later - milliseconds(1)), milliseconds(500));
    EXPECT_EQ(throttle.Delay(client, later), milliseconds(0));
    // Forgotten for good: the next failure starts from the first wait again.
    throttle.Failed(client, later);
    EXPECT_EQ(throttle.Delay(client, later), LoginThrottle::FirstDelay);
    // Each failure starts the quiet spell again.
    throttle.Failed(client, later + LoginThrottle::Forget - milliseconds(1));
    EXPECT_EQ(throttle.Delay(client, later + LoginThrottle::Forget + milliseconds(1)),
              milliseconds(500));
    throttle.Succeeded(client);
    EXPECT_EQ(throttle.Delay(client, later + LoginThrottle::Forget + milliseconds(1)),
              milliseconds(0));
}

}  // namespace throttle_test
}  // namespace
