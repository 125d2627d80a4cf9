// Address blocks decide who may use the proxy and where rules apply: a block
// that matches too much opens the proxy, one that parses garbage hides a typo.

#include <gtest/gtest.h>

#include <vector>

#include "ProxyPartsTest.h"
#include "core/base/Cidr.h"

namespace {

TEST(CidrTest, BlocksMatchTheirAddressesInBothFamiliesAndMappedForm) {
    const struct {
        const char* m_Block;
        std::vector<const char*> m_Inside, m_Outside;
    } cases[] = {
        // IPv4 also as a client of an IPv6 listener shows it; not the same bytes unmapped.
        {"10.0.0.0/8", {"10.255.1.2", "::ffff:10.1.2.3"}, {"11.0.0.1", "::a01:203"}},
        {"192.168.4.0/22", {"192.168.4.0", "192.168.7.255"}, {"192.168.8.0", "192.168.3.255"}},
        {"2001:db8::/32", {"2001:db8:ffff::1"}, {"2001:db9::1"}},
        {"::1", {"::1"}, {"::2", "127.0.0.1"}},  // an address alone: a block of one
        {"192.0.2.7", {"192.0.2.7"}, {"192.0.2.6"}},
        // "Everyone" in IPv4 is not everyone in IPv6; "::/0" is both.
        {"0.0.0.0/0", {"203.0.113.9"}, {"2001:db8::1"}},
        {"::/0", {"2001:db8::1", "203.0.113.9"}, {}},
    };
    for (const auto& c : cases) {
        const auto block = Cidr::Parse(c.m_Block);
        ASSERT_TRUE(block) << c.m_Block;
        for (const char* address : c.m_Inside)
            EXPECT_TRUE(block->Contains(Address(address))) << c.m_Block << " " << address;
        for (const char* address : c.m_Outside)
            EXPECT_FALSE(block->Contains(Address(address))) << c.m_Block << " " << address;
    }
}

TEST(CidrTest, MalformedBlocksAreRefused) {
    for (const char* text : {"", "/8", "10.0.0.0/", "10.0.0.0/33", "::/129", "10.0.0.0/-1",
                             "10.0.0.0/8x", "10.0.0.0/ 8", "10.0.0.0/8/8", "10.0.0", "1.2.3.4.5",
                             "10.0.0.256", "example.com", "fe80::1%eth0", " 10.0.0.0/8"}) {
        EXPECT_FALSE(Cidr::Parse(text)) << text;
    }
    EXPECT_TRUE(Cidr::Parse("10.0.0.0/32"));
    EXPECT_TRUE(Cidr::Parse("::/128"));
}

}  // namespace
