// Totals and groups of the connections a filter chose, against the same
// connections listed one by one.

#include <gtest/gtest.h>

#include "ViewFixture.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/ConnectionGroups.h"
#include "core/view/FilterIndex.h"

namespace {

class ConnectionGroupsTest : public ::testing::Test, protected ViewFixture {
protected:
    void SetUp() override {
        Add({.m_Id = 1, .m_User = "ann", .m_Source = "10.0.0.1", .m_DestName = "a.example",
             .m_Service = "www", .m_In = 100, .m_Out = 10});
        Add({.m_Id = 2, .m_User = "ann", .m_Source = "10.0.0.2", .m_Dest = "10.9.9.9",
             .m_Service = "ftp", .m_In = 200, .m_Out = 20, .m_Failure = 3, .m_bClosed = true});
        Add({.m_Id = 3, .m_User = "ben", .m_Source = "10.0.0.1", .m_DestName = "a.example",
             .m_Service = "www", .m_In = 400, .m_Out = 40});
        Add({.m_Id = 4, .m_User = "", .m_Source = "10.0.0.3", .m_DestName = "b.example",
             .m_Service = "www", .m_In = 800, .m_Out = 80, .m_bClosed = true});
    }

    // name: connections/active/failed/in/out, one group after another.
    static std::string Describe(const ConnectionGroups& groups) {
        std::string text;
        for (const ConnectionGroup& group : groups.Groups()) {
            const ConnectionTotals& t = group.m_Totals;
            text += group.m_Name + ":" + std::to_string(t.m_Connections) + "/" +
                    std::to_string(t.m_Active) + "/" + std::to_string(t.m_Failed) + "/" +
                    std::to_string(t.m_BytesIn) + "/" + std::to_string(t.m_BytesOut) + " ";
        }
        return text;
    }
};

TEST_F(ConnectionGroupsTest, EachGroupingSumsItsConnectionsAndDoubleClickFindsThemAgain) {
    ConnectionGroups groups;
    groups.Build(GroupBy::User, m_View);
    EXPECT_EQ(Describe(groups), "ann:2/1/1/300/30 ben:1/1/0/400/40 :1/0/0/800/80 ");
    groups.Build(GroupBy::Destination, m_View);  // name, or address when none
    EXPECT_EQ(Describe(groups), "a.example:2/2/0/500/50 10.9.9.9:1/0/1/200/20 b.example:1/0/0/800/80 ");
    groups.Build(GroupBy::Service, m_View);
    EXPECT_EQ(Describe(groups), "www:3/2/0/1300/130 ftp:1/0/1/200/20 ");
    groups.Build(GroupBy::Client, m_View);
    EXPECT_EQ(Describe(groups), "10.0.0.1:2/2/0/500/50 10.0.0.2:1/0/1/200/20 10.0.0.3:1/0/0/800/80 ");

    // Each group's filter term lists exactly the group's connections.
    FilterIndex index;
    index.Build(m_View);
    for (GroupBy by : {GroupBy::User, GroupBy::Destination, GroupBy::Service, GroupBy::Client}) {
        groups.Build(by, m_View);
        for (const ConnectionGroup& group : groups.Groups()) {
            ConnectionFilter filter;
            ASSERT_TRUE(filter.SetText(ConnectionGroups::FilterTerm(by, group.m_Name))) << group.m_Name;
            ConnectionTotals listed;
            for (size_t row : filter.Select(index)) listed.Add(*index.Entry(row));
            EXPECT_EQ(listed.m_Connections, group.m_Totals.m_Connections) << group.m_Name;
            EXPECT_EQ(listed.m_BytesIn, group.m_Totals.m_BytesIn) << group.m_Name;
        }
    }
}

TEST_F(ConnectionGroupsTest, TotalsAndGroupsCoverOnlyTheFilteredConnections) {
    FilterIndex index;
    index.Build(m_View);
    ConnectionFilter filter;
    ASSERT_TRUE(filter.SetText("-user:ben"));
    std::vector<const EntryObj*> chosen;
    ConnectionTotals totals;
    for (size_t row : filter.Select(index)) {
        chosen.push_back(index.Entry(row));
        totals.Add(*index.Entry(row));
    }
    EXPECT_EQ(totals.m_Connections, 3u);
    EXPECT_EQ(totals.m_Active, 1u);
    EXPECT_EQ(totals.m_Failed, 1u);
    EXPECT_EQ(totals.m_BytesIn, 1100u);
    EXPECT_EQ(totals.m_BytesOut, 110u);
    ConnectionGroups groups;
    groups.Build(GroupBy::Destination, chosen);
    EXPECT_EQ(Describe(groups), "a.example:1/1/0/100/10 10.9.9.9:1/0/1/200/20 b.example:1/0/0/800/80 ");
}

}  // namespace
