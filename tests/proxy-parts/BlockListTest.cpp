// Blocks a monitor client sets: what each kind covers (a network takes in its
// addresses in both forms, a name the names under it and no look-alike), and
// that an ended or lifted block covers nothing while numbers go on.

#include <gtest/gtest.h>

#include "BlockList.h"
#include "ProxyPartsTest.h"

namespace block_list_test {

MonBlock Set(MonBlockWhat what, const std::string& value, uint64_t until = 0) {
    MonBlock block;
    block.m_What = what;
    block.m_Value = value;
    block.m_Since = 1000;
    block.m_Until = until;
    return block;
}

TEST(BlockListTest, EachKindCoversItsOwnAndEndedOrLiftedBlocksNothing) {
    BlockList blocks;
    EXPECT_FALSE(blocks.User("alice", 1000));
    blocks.Add(Set(MonBlockWhat::Client, "192.0.2.0/24"));
    blocks.Add(Set(MonBlockWhat::Destination, "example.com"));
    blocks.Add(Set(MonBlockWhat::Destination, "2001:db8::/32"));
    const uint32_t user = blocks.Add(Set(MonBlockWhat::User, "alice", 2000));

    EXPECT_TRUE(blocks.Client(Address("::ffff:192.0.2.9"), 1000));
    EXPECT_FALSE(blocks.Client(Address("192.0.3.1"), 1000));
    EXPECT_TRUE(blocks.DestinationName("WWW.Example.com", 1000));
    EXPECT_FALSE(blocks.DestinationName("notexample.com", 1000));
    EXPECT_TRUE(blocks.DestinationAddress(Address("2001:db8::1"), 1000));
    // A name block is no address block, nor a user block a client's.
    EXPECT_FALSE(blocks.DestinationAddress(Address("192.0.2.9"), 1000));
    EXPECT_FALSE(blocks.User("Alice", 1000));

    EXPECT_EQ(blocks.User("alice", 1999)->m_Id, user);
    EXPECT_FALSE(blocks.User("alice", 2000));
    EXPECT_EQ(blocks.InForce(2000).size(), 3u);
    EXPECT_EQ(blocks.CountInForce(1000), (BlockList::Counts{1, 1, 2}));

    ASSERT_TRUE(blocks.Lift(1));
    EXPECT_FALSE(blocks.Lift(1));
    EXPECT_FALSE(blocks.Client(Address("192.0.2.9"), 1000));
    // Restored from a file, numbers go on past the ones given before.
    BlockList restored;
    restored.Restore(blocks.InForce(1000), blocks.NextId());
    EXPECT_EQ(restored.Add(Set(MonBlockWhat::User, "bob")), 5u);
}

}  // namespace block_list_test
