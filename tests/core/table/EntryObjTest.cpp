#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/table/EntryObj.h"
#include "support/GridColumns.h"

namespace {


MonitorRecord Rec(uint32_t kind, uint32_t high = 1, uint32_t low = 2) {
    MonitorRecord r{};
    r.m_IdHigh = high;
    r.m_IdLow = low;
    r.m_Kind = kind;
    return r;
}

MonitorRecord Update(uint32_t in, uint32_t out) {
    MonitorRecord r = Rec(RecordKindUpdate);
    r.m_TrafficIn = in;
    r.m_TrafficOut = out;
    return r;
}

void SetAddr(uint8_t (&addr)[16], uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[16] = {2, 0, 0, 80, a, b, c, d};
    std::memcpy(addr, bytes, sizeof addr);
}

class EntryObjTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    // Applies a record that must be taken; returns its delta.
    uint64_t Take(const MonitorRecord& record) {
        uint64_t delta = 12345;
        EXPECT_EQ(m_Entry.Apply(record, delta), 1);
        return delta;
    }
    const std::string& Col(int column) const { return m_Entry.GetColumnText(column); }

    EntryObj m_Entry;
};

TEST(EntryKeyTest, KeyIsTwoSignedDecimalsJoinedByAColon) {
    std::string key, other;
    EntryObj::MakeKey(12, 345, key);
    EXPECT_EQ(key, "12:345");
    EntryObj::MakeKey(0xFFFFFFFFu, 0x80000000u, key);
    EXPECT_EQ(key, "-1:-2147483648");
    EntryObj::MakeKey(1, 23, key);
    EntryObj::MakeKey(12, 3, other);
    EXPECT_NE(key, other);
}

TEST_F(EntryObjTest, RecordWithBothIdsZeroIsRefusedAndChangesNothing) {
    MonitorRecord open = Rec(RecordKindOpen, 0, 0);
    std::strcpy(open.m_UserName, "alice");
    uint64_t delta = 7;
    EXPECT_EQ(m_Entry.Apply(open, delta), 0);
    EXPECT_EQ(delta, 0u);
    EXPECT_TRUE(m_Entry.m_Key.empty());
    EXPECT_EQ(Col(ColUserName), "");
}

TEST_F(EntryObjTest, TextsAndAddressesAreFilledInNeverErased) {
    MonitorRecord open = Rec(RecordKindOpen, 12, 345);
    std::strcpy(open.m_UserName, "alice");
    open.m_StartTime = 3725;  // 01:02:05 UTC
    SetAddr(open.m_SourceAddr, 10, 0, 0, 1);
    std::strcpy(open.m_SourceName, "client.example");
    Take(open);
    EXPECT_EQ(m_Entry.m_Key, "12:345");
    EXPECT_EQ(Col(ColUserName), "alice");
    EXPECT_EQ(Col(ColService), "Others");  // none reported yet
    EXPECT_EQ(Col(ColStartTime), "01:02:05");

    MonitorRecord update = Rec(RecordKindUpdate, 12, 345);
    std::strcpy(update.m_ServiceName, "ftp");
    SetAddr(update.m_DestAddr, 93, 184, 216, 34);
    std::strcpy(update.m_NextServerName, "next.proxy");
    Take(update);
    Take(Rec(RecordKindUpdate, 12, 345));  // nothing in it erases anything
    EXPECT_EQ(Col(ColService), "ftp");
    EXPECT_EQ(Col(ColUserName), "alice");
    EXPECT_EQ(Col(ColStartTime), "01:02:05");

    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(Col(ColSource), "client.example");
    EXPECT_EQ(Col(ColDestination), "93.184.216.34");  // no name: its own address
    EXPECT_EQ(Col(ColNextServer), "next.proxy");
    EXPECT_EQ(Col(ColDestinationPort), "80");
    update.m_DestAddr[2] = 0x1F;  // port 8080, network order
    update.m_DestAddr[3] = 0x90;
    Take(update);
    EXPECT_EQ(Col(ColDestinationPort), "8080");
    EXPECT_EQ(m_Entry.ColumnNumber(ColDestinationPort), 8080u);
    m_Entry.SetDisplay(0, 0, 0);
    EXPECT_EQ(Col(ColSource), "10.0.0.1");
    EXPECT_EQ(Col(ColNextServer), " ");  // a name but no address
}

TEST_F(EntryObjTest, TrafficIsUnsignedTotalsNeverWrapAndUseTheChosenUnit) {
    Take(Rec(RecordKindOpen));
    EXPECT_EQ(Take(Update(2147483648u, 2147483648u)), 4294967296u);
    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(Col(ColInTraffic), "2147483648");
    EXPECT_EQ(Col(ColTotalTraffic), "4294967296");
    m_Entry.SetDisplay(1, 1, 0);
    EXPECT_EQ(Col(ColInTraffic), "2097152.00K");
    EXPECT_EQ(Col(ColTotalTraffic), "4194304.00K");
    m_Entry.SetDisplay(1, 2, 0);
    EXPECT_EQ(Col(ColOutTraffic), "2048.00M");
    EXPECT_EQ(Col(ColTotalTraffic), "4096.00M");
    EXPECT_EQ(Take(Update(4294967295u, 4294967295u)), 4294967294u);  // one record, both near 4 GiB
    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(Col(ColTotalTraffic), "8589934590");

    EntryObj small;
    uint64_t delta = 0;
    small.Apply(Rec(RecordKindOpen), delta);
    small.Apply(Update(1023, 1536), delta);
    small.SetDisplay(1, 1, 0);
    EXPECT_EQ(small.GetColumnText(ColInTraffic), "1.00K");
    EXPECT_EQ(small.GetColumnText(ColOutTraffic), "1.50K");
    small.SetDisplay(1, 7, 0);  // an unknown unit shows bytes
    EXPECT_EQ(small.GetColumnText(ColOutTraffic), "1536");
    small.SetDisplay(1, 2, 0);
    EXPECT_EQ(small.GetColumnText(ColOutTraffic), "0.00M");
    EntryObj none;
    none.SetDisplay(1, 1, 0);
    EXPECT_EQ(none.GetColumnText(ColInTraffic), "0.00K");
}

TEST_F(EntryObjTest, DeltaIsTheGrowthOfTheSumAndZeroForCountlessRecordsAndClose) {
    Take(Rec(RecordKindOpen));
    EXPECT_EQ(Take(Update(100, 50)), 150u);  // the first update: everything so far
    EXPECT_EQ(Take(Update(130, 0)), 30u);    // a zero count keeps the old one
    EXPECT_EQ(Take(Rec(RecordKindResult)), 0u);
    EXPECT_EQ(Take(Rec(RecordKindClose)), 0u);
}

TEST_F(EntryObjTest, WireTotalThatPassed4GiBGrowsModulo2To32OneThatStartedAgainGrowsByItsValue) {
    Take(Rec(RecordKindOpen));
    EXPECT_EQ(Take(Update(4294967000u, 1000)), 4294968000u);
    EXPECT_EQ(Take(Update(704, 0)), 1000u);  // In passed 2^32
    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(Col(ColInTraffic), "4294968000");  // the grid shows the bytes, not the wrapped total
    EXPECT_EQ(Col(ColTotalTraffic), "4294969000");
    EXPECT_EQ(Take(Update(0, 500)), 500u);    // Out went down by 500: counting again from 0
    EXPECT_EQ(Take(Update(300, 600)), 400u);  // In again from 0 (300), Out up by 100
    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(Col(ColInTraffic), "300");  // a counter that started again shows as received
    EXPECT_EQ(Col(ColTotalTraffic), "900");
    EXPECT_EQ(Take(Update(2147483747u, 0)), 2147483447u);
    EXPECT_EQ(Take(Update(100, 0)), 100u);  // down by 2^31 - 1: counting again
    EXPECT_EQ(Take(Update(2147483748u, 0)), 2147483648u);
    EXPECT_EQ(Take(Update(100, 0)), 2147483648u);  // down by exactly 2^31: passed 2^32
}

TEST_F(EntryObjTest, DurationAndStartTime) {
    MonitorRecord open = Rec(RecordKindOpen);
    open.m_StartTime = 1000000;
    Take(open);
    const struct {
        int64_t now;
        const char* text;
    } cases[] = {{1000000 + 86400, "1:00:00:00"},
                 {1000000 + 3725, "0:01:02:05"},
                 {1000000 + 12 * 86400 + 86399, "12:23:59:59"},
                 {1000000, "0"},
                 {999999, "0"}};  // the last: a start in the future
    for (const auto& c : cases) {
        m_Entry.SetDisplay(1, 0, c.now);
        EXPECT_EQ(Col(ColDuration), c.text) << c.now;
    }
    EntryObj never;  // no start time: the span since 1970
    never.SetDisplay(1, 0, 20000 * 86400LL + 1);
    EXPECT_EQ(never.GetColumnText(ColDuration), "20000:00:00:01");

    open.m_StartTime = 0xFFFFFFF0u;  // 2106-02-07 06:28:00 UTC: unsigned, past 2038
    Take(open);
    EXPECT_EQ(m_Entry.m_StartTime, 4294967280LL);
    EXPECT_EQ(Col(ColStartTime), "06:28:00");
    m_Entry.SetDisplay(1, 0, 4294967280LL + 61);
    EXPECT_EQ(Col(ColDuration), "0:00:01:01");
}

TEST_F(EntryObjTest, AFinishedDurationStopsAtItsEndAndAFailureSaysWhy) {
    MonitorRecord open = Rec(RecordKindOpen);
    open.m_StartTime = 1000000;
    Take(open);
    MonitorRecord failure = Rec(RecordKindResult);
    failure.m_ResultCode = 5;
    std::strcpy(failure.m_ResultText, "connection refused");
    Take(failure);
    EXPECT_EQ(Col(ColResult), "connection refused");
    MonitorRecord close = Rec(RecordKindClose);
    close.m_CloseValue = 1000004;  // the end, on the start time's clock
    Take(close);
    for (int64_t later : {0, 60, 86400}) {
        m_Entry.SetDisplay(1, 0, 1000004 + later);
        EXPECT_EQ(Col(ColDuration), "0:00:00:04") << later;
    }
    EXPECT_EQ(Col(ColResult), "connection refused");

    // A monitor that sends no end: the connection ended when its close arrived.
    EntryObj closed;
    uint64_t delta = 0;
    open.m_StartTime = static_cast<uint32_t>(std::time(nullptr)) - 30;
    closed.Apply(open, delta);
    MonitorRecord success = Rec(RecordKindResult);
    std::strcpy(success.m_ResultText, "succeeded");
    closed.Apply(success, delta);
    const int64_t before = std::time(nullptr);
    closed.Apply(Rec(RecordKindClose), delta);
    EXPECT_GE(closed.m_EndTime, before);
    EXPECT_LE(closed.m_EndTime, static_cast<int64_t>(std::time(nullptr)));
    EXPECT_EQ(closed.Span(closed.m_EndTime + 600), closed.m_EndTime - open.m_StartTime);
    EXPECT_EQ(closed.GetColumnText(ColResult), "");  // only a failure says why
}

TEST_F(EntryObjTest, CloseGivesClosedOrFailedByTheLastNonZeroResultAndOnlyOnce) {
    EntryObj closed;
    uint64_t delta = 0;
    closed.Apply(Rec(RecordKindOpen), delta);
    closed.Apply(Rec(RecordKindResult), delta);  // code 0
    ASSERT_EQ(closed.Apply(Rec(RecordKindClose), delta), 1);
    EXPECT_EQ(closed.m_Status, 2);
    EXPECT_EQ(closed.m_bFinished, 1);

    Take(Rec(RecordKindOpen));
    MonitorRecord failure = Rec(RecordKindResult);
    failure.m_ResultCode = 5;
    Take(failure);
    Take(Rec(RecordKindResult));  // a later success does not erase the failure
    EXPECT_EQ(m_Entry.m_Status, 0);
    Take(Rec(RecordKindClose));
    EXPECT_EQ(m_Entry.m_Status, 1);
    EXPECT_EQ(m_Entry.m_bFinished, 1);
    EXPECT_EQ(m_Entry.Apply(Rec(RecordKindClose), delta), 0);  // a second close
}

TEST_F(EntryObjTest, AuthentificationNamesTheMethodOnceOpened) {
    MonitorRecord update = Update(1, 1);
    update.m_AuthMethod = 2;
    Take(update);
    EXPECT_EQ(Col(ColAuthentification), "");  // only an open record makes it show

    const struct {
        uint8_t method;
        const char* name;
    } cases[] = {{0x00, "No authentication"},   {0x01, "GSSAPI"},
                 {0x02, "Username/Password"},   {0x03, "IANA method 0x03"},
                 {0x7F, "IANA method 0x7F"},    {0x80, "Private method 0x80"},
                 {0xFE, "Private method 0xFE"}, {0xFF, "No acceptable method"}};
    for (const auto& c : cases) {
        EntryObj entry;
        MonitorRecord open = Rec(RecordKindOpen);
        open.m_AuthMethod = c.method;
        uint64_t delta = 0;
        entry.Apply(open, delta);
        EXPECT_EQ(entry.GetColumnText(ColAuthentification), c.name) << int(c.method);
    }
}

}  // namespace
