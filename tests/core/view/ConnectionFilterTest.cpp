// The filter line through what a user types: which connections stay.

#include <gtest/gtest.h>

#include "ViewFixture.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"

namespace {

class ConnectionFilterTest : public ::testing::Test, protected ViewFixture {
protected:
    void SetUp() override {
        Add({.m_Id = 1,
             .m_User = "Alice",
             .m_Source = "10.1.2.3",
             .m_Dest = "10.9.0.1",
             .m_DestName = "intranet.example.org",
             .m_Service = "www",
             .m_SourcePort = 40001,
             .m_DestPort = 80});
        Add({.m_Id = 2,
             .m_User = "bob",
             .m_Source = "192.168.1.7",
             .m_Dest = "93.184.216.34",
             .m_DestName = "downloads.example.com",
             .m_Service = "ftp",
             .m_SourcePort = 40002,
             .m_DestPort = 8080});
        Add({.m_Id = 3, .m_User = "JÜRGEN", .m_Source = "10.1.9.9", .m_Dest = "8.8.8.8",
             .m_Service = "dns", .m_Failure = 5, .m_bClosed = true});
        m_Index.Build(m_View);
    }

    // The users of the connections the line keeps, or "error: ..." when it is malformed.
    std::string Kept(const std::string& line) {
        ConnectionFilter filter;
        std::string kept;
        if (!filter.SetText(line)) kept = "error: " + filter.Error() + " |";
        for (size_t row : filter.Select(m_Index)) kept += " " + m_Index.Entry(row)->m_UserName;
        return kept;
    }

    FilterIndex m_Index;
};

TEST_F(ConnectionFilterTest, EveryFormOfTermChoosesItsConnections) {
    EXPECT_EQ(Kept(""), " Alice bob JÜRGEN");
    EXPECT_EQ(Kept("EXAMPLE"), " Alice bob");            // any column, case aside
    EXPECT_EQ(Kept("jürgen"), " JÜRGEN");                // accented capitals fold too
    EXPECT_EQ(Kept("user:b"), " bob");                   // one column only: "downloads" has a b
    EXPECT_EQ(Kept("dest:intranet"), " Alice");
    EXPECT_EQ(Kept("dest:8.8"), " JÜRGEN");              // the address, also where a name is known
    EXPECT_EQ(Kept("dest:10.0.0.0/8"), " Alice");        // a network
    EXPECT_EQ(Kept("src:10.1.0.0/16"), " Alice JÜRGEN");
    EXPECT_EQ(Kept("service:FTP"), " bob");
    EXPECT_EQ(Kept("auth:username/password"), " Alice bob JÜRGEN");
    EXPECT_EQ(Kept("result:refused"), " JÜRGEN");
    EXPECT_EQ(Kept("-user:bob"), " Alice JÜRGEN");       // exclusion
    EXPECT_EQ(Kept("src:10.1.0.0/16 -service:dns"), " Alice");  // all terms at once
    EXPECT_EQ(Kept("user:=ali"), "");                    // exact: the whole name
    EXPECT_EQ(Kept(ConnectionFilter::ExactTerm("user", "Alice")), " Alice");
    EXPECT_EQ(Kept("\"-user:bob\""), "");                // quoted: a plain phrase
    EXPECT_EQ(Kept("dport:80"), " Alice");               // a port: 8080 is another
    EXPECT_EQ(Kept("dport:8000-8100"), " bob");          // a range, both ends included
    EXPECT_EQ(Kept("dport:80-8080 -dport:=80"), " bob");
    EXPECT_EQ(Kept("sport:40002"), " bob");  // the client's port
    EXPECT_EQ(Kept("dport:0"), " JÜRGEN");   // its port was never sent
}

// A rebuild after a poll keeps the texts of connections that did not change;
// one whose values changed is found by its new texts only, also when the list
// around it lost a connection.
TEST_F(ConnectionFilterTest, RebuildFindsChangedConnectionsByTheirNewTexts) {
    m_Entries[2]->m_Service = "Gopher";
    m_Entries[2]->m_Dest.m_Bytes[0] = 9;  // 8.8.8.8 becomes 9.8.8.8
    m_Index.Build({m_View[1], m_View[2]});
    EXPECT_EQ(Kept("service:gopher"), " JÜRGEN");
    EXPECT_EQ(Kept("service:dns"), "");
    EXPECT_EQ(Kept("dest:9.8.8.8"), " JÜRGEN");
    EXPECT_EQ(Kept("example"), " bob");
}

// The grammar's faults, as the live grid and the History grid both tell them.
TEST_F(ConnectionFilterTest, MalformedLineSaysWhatIsWrongAndKeepsEverything) {
    EXPECT_EQ(Kept("bob dest:10.0.0.0/33"),
              "error: \"10.0.0.0/33\" is not a network: write it like 10.0.0.0/8 | Alice bob JÜRGEN");
    EXPECT_EQ(Kept("dest:10.0/8"),
              "error: \"10.0/8\" is not a network: write it like 10.0.0.0/8 | Alice bob JÜRGEN");
    EXPECT_EQ(Kept("usr:bob"),
              "error: Unknown field \"usr:\": use user:, dest:, src:, service:, "
              "auth:, result:, server:, sport: or dport: | Alice bob JÜRGEN");
    EXPECT_EQ(Kept("dport:8100-8000"),
              "error: \"dport:8100-8000\" is not a port: write it like 443 or 8000-8100 | Alice "
              "bob JÜRGEN");
    EXPECT_EQ(Kept("sport:65536"),
              "error: \"sport:65536\" is not a port: write it like 443 or 8000-8100 | Alice bob "
              "JÜRGEN");
    EXPECT_EQ(Kept("user:"), "error: \"user:\" needs a value | Alice bob JÜRGEN");
    EXPECT_EQ(Kept("-"), "error: \"-\" needs a term after it | Alice bob JÜRGEN");
    EXPECT_EQ(Kept("user:\"bo"), "error: A quote is not closed | Alice bob JÜRGEN");
    EXPECT_EQ(Kept("http://example.org"), "");  // a word, not an unknown field
}

}  // namespace
