#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "records/EntryObj.h"

namespace {

enum { Source, Destination, UserName, Service, StartTime, Duration, In, Out, Total, Auth, Next };

void SetAddr(uint8_t (&addr)[16], uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    std::memset(addr, 0, sizeof addr);
    addr[1] = 2;  // AF_INET, as the monitor sends it
    addr[3] = 80;
    addr[4] = a;
    addr[5] = b;
    addr[6] = c;
    addr[7] = d;
}

MonitorRecord Open(uint32_t high, uint32_t low) {
    MonitorRecord r{};
    r.m_IdHigh = high;
    r.m_IdLow = low;
    r.m_Kind = RecordKindOpen;
    return r;
}

MonitorRecord Update(uint32_t high, uint32_t low, uint32_t in, uint32_t out) {
    MonitorRecord r{};
    r.m_IdHigh = high;
    r.m_IdLow = low;
    r.m_Kind = RecordKindUpdate;
    r.m_TrafficIn = in;
    r.m_TrafficOut = out;
    return r;
}

MonitorRecord Result(uint32_t high, uint32_t low, uint32_t code) {
    MonitorRecord r{};
    r.m_IdHigh = high;
    r.m_IdLow = low;
    r.m_Kind = RecordKindResult;
    r.m_ResultCode = code;
    return r;
}

MonitorRecord Close(uint32_t high, uint32_t low) {
    MonitorRecord r{};
    r.m_IdHigh = high;
    r.m_IdLow = low;
    r.m_Kind = RecordKindClose;
    return r;
}

class EntryObjTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }

    // Applies a record that must be taken and returns its delta.
    uint32_t Take(const MonitorRecord& record) {
        uint32_t delta = 12345;
        EXPECT_EQ(m_Entry.Apply(record, delta), 1);
        return delta;
    }

    EntryObj m_Entry;
};

TEST(EntryKeyTest, KeyIsTwoSignedDecimalsJoinedByAColon) {
    std::string key;
    EntryObj::MakeKey(12, 345, key);
    EXPECT_EQ(key, "12:345");
    EntryObj::MakeKey(0xFFFFFFFFu, 0x80000000u, key);
    EXPECT_EQ(key, "-1:-2147483648");

    std::string a, b;
    EntryObj::MakeKey(1, 23, a);
    EntryObj::MakeKey(12, 3, b);
    EXPECT_NE(a, b);
}

TEST_F(EntryObjTest, RecordWithBothIdsZeroIsRefusedAndChangesNothing) {
    MonitorRecord open = Open(0, 0);
    std::strcpy(open.m_UserName, "alice");
    open.m_StartTime = 100;
    uint32_t delta = 7;
    EXPECT_EQ(m_Entry.Apply(open, delta), 0);
    EXPECT_EQ(delta, 0u);
    EXPECT_TRUE(m_Entry.m_Key.empty());
    EXPECT_TRUE(m_Entry.m_UserName.empty());
    EXPECT_EQ(m_Entry.m_StartTime, 0);
    for (int c = 0; c < 11; ++c) EXPECT_EQ(m_Entry.GetColumnText(c), "") << c;
}

TEST_F(EntryObjTest, OpenFillsUserStartTimeAndAuthAndKeepsThemAgainstEmptyRecords) {
    MonitorRecord open = Open(12, 345);
    std::strcpy(open.m_UserName, "alice");
    open.m_StartTime = 3725;  // 01:02:05 UTC
    open.m_AuthMethod = 2;
    SetAddr(open.m_SourceAddr, 10, 0, 0, 1);
    std::strcpy(open.m_SourceName, "client.example");
    Take(open);

    EXPECT_EQ(m_Entry.m_Key, "12:345");
    EXPECT_EQ(m_Entry.m_Kind, static_cast<int32_t>(RecordKindOpen));
    EXPECT_EQ(m_Entry.GetColumnText(UserName), "alice");
    EXPECT_EQ(m_Entry.GetColumnText(Service), "Others");
    EXPECT_EQ(m_Entry.GetColumnText(StartTime), "01:02:05");
    EXPECT_EQ(m_Entry.GetColumnText(Auth), "Username/Password");

    // An update with no texts, addresses or start time erases nothing.
    Take(Update(12, 345, 0, 0));
    m_Entry.SetDisplay(1, 0, 3725);
    EXPECT_EQ(m_Entry.GetColumnText(UserName), "alice");
    EXPECT_EQ(m_Entry.GetColumnText(StartTime), "01:02:05");
    EXPECT_EQ(m_Entry.GetColumnText(Source), "client.example");
    EXPECT_EQ(m_Entry.GetColumnText(Auth), "Username/Password");
    m_Entry.SetDisplay(0, 0, 3725);
    EXPECT_EQ(m_Entry.GetColumnText(Source), "10.0.0.1");
}

TEST_F(EntryObjTest, ServiceIsReplacedByANamedUpdateAndKeptOtherwise) {
    Take(Open(1, 1));
    EXPECT_EQ(m_Entry.GetColumnText(Service), "Others");
    MonitorRecord update = Update(1, 1, 10, 0);
    std::strcpy(update.m_ServiceName, "ftp");
    Take(update);
    EXPECT_EQ(m_Entry.m_Service, "ftp");
    EXPECT_EQ(m_Entry.GetColumnText(Service), "ftp");
    Take(Update(1, 1, 20, 0));
    EXPECT_EQ(m_Entry.GetColumnText(Service), "ftp");
}

TEST_F(EntryObjTest, HostColumnsFallBackToTheirOwnAddressOrABlank) {
    Take(Open(1, 2));
    MonitorRecord update = Update(1, 2, 0, 0);
    SetAddr(update.m_SourceAddr, 192, 168, 1, 2);  // an update's source address is taken too
    SetAddr(update.m_DestAddr, 93, 184, 216, 34);
    std::strcpy(update.m_NextServerName, "next.proxy");
    Take(update);

    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(m_Entry.GetColumnText(Source), "192.168.1.2");
    EXPECT_EQ(m_Entry.GetColumnText(Destination), "93.184.216.34");
    EXPECT_EQ(m_Entry.GetColumnText(Next), "next.proxy");

    m_Entry.SetDisplay(0, 0, 0);
    EXPECT_EQ(m_Entry.GetColumnText(Next), " ");  // a name but no address
    m_Entry.SetDisplay(7, 0, 0);                  // any form but 1 shows addresses
    EXPECT_EQ(m_Entry.GetColumnText(Next), " ");
}

TEST_F(EntryObjTest, TrafficIsUnsignedAndWrapsAt32Bits) {
    Take(Open(3, 4));
    EXPECT_EQ(Take(Update(3, 4, 2147483648u, 2147483648u)), 0u);  // 2^32 wraps to 0
    EXPECT_EQ(m_Entry.m_LastTotal, 0u);
    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(m_Entry.GetColumnText(In), "2147483648");
    EXPECT_EQ(m_Entry.GetColumnText(Out), "2147483648");
    EXPECT_EQ(m_Entry.GetColumnText(Total), "0");
    m_Entry.SetDisplay(1, 1, 0);
    EXPECT_EQ(m_Entry.GetColumnText(In), "2097152.00K");
    EXPECT_EQ(m_Entry.GetColumnText(Total), "0.00K");
    m_Entry.SetDisplay(1, 2, 0);
    EXPECT_EQ(m_Entry.GetColumnText(In), "2048.00M");
    EXPECT_EQ(m_Entry.GetColumnText(Total), "0.00M");

    // Growth across the wrap is still the true growth.
    EXPECT_EQ(Take(Update(3, 4, 2147483648u + 100u, 0)), 100u);
}

TEST_F(EntryObjTest, UnitsAreThoseChosenWhateverTheSize) {
    Take(Open(5, 6));
    Take(Update(5, 6, 1023, 1536));
    m_Entry.SetDisplay(1, 1, 0);
    EXPECT_EQ(m_Entry.GetColumnText(In), "1.00K");
    EXPECT_EQ(m_Entry.GetColumnText(Out), "1.50K");
    m_Entry.SetDisplay(1, 0, 0);
    EXPECT_EQ(m_Entry.GetColumnText(Out), "1536");
    EXPECT_EQ(m_Entry.GetColumnText(Total), "2559");
    m_Entry.SetDisplay(1, 2, 0);
    EXPECT_EQ(m_Entry.GetColumnText(Out), "0.00M");
    m_Entry.SetDisplay(1, 9, 0);  // an unknown unit shows bytes
    EXPECT_EQ(m_Entry.GetColumnText(Out), "1536");

    EntryObj empty;
    empty.SetDisplay(1, 1, 0);
    EXPECT_EQ(empty.GetColumnText(In), "0.00K");
}

TEST_F(EntryObjTest, DeltaIsTheGrowthOfTheSumAndZeroForCountlessRecordsAndClose) {
    Take(Open(7, 8));
    EXPECT_EQ(Take(Update(7, 8, 100, 50)), 150u);  // first update: everything so far
    EXPECT_EQ(Take(Update(7, 8, 130, 0)), 30u);    // a zero count keeps the old one
    EXPECT_EQ(m_Entry.m_BytesOut, 50u);
    EXPECT_EQ(Take(Result(7, 8, 0)), 0u);
    EXPECT_EQ(Take(Close(7, 8)), 0u);
}

TEST_F(EntryObjTest, DurationFormats) {
    MonitorRecord open = Open(9, 9);
    open.m_StartTime = 1000000;
    Take(open);
    m_Entry.SetDisplay(1, 0, 1000000 + 86400);
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "1:00:00:00");
    m_Entry.SetDisplay(1, 0, 1000000 + 3725);
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "0:01:02:05");
    m_Entry.SetDisplay(1, 0, 1000000 + 12 * 86400 + 86399);
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "12:23:59:59");
    m_Entry.SetDisplay(1, 0, 1000000);
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "0");
    m_Entry.SetDisplay(1, 0, 999999);  // a start in the future
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "0");

    EntryObj never;  // no start time: the span since 1970
    never.SetDisplay(1, 0, 20000 * 86400LL + 1);
    EXPECT_EQ(never.GetColumnText(Duration), "20000:00:00:01");
}

TEST_F(EntryObjTest, StartTimesBeyond2038AreReadUnsigned) {
    MonitorRecord open = Open(1, 9);
    open.m_StartTime = 0xFFFFFFF0u;  // 2106-02-07 06:28:00 UTC
    Take(open);
    EXPECT_EQ(m_Entry.m_StartTime, 4294967280LL);
    EXPECT_EQ(m_Entry.GetColumnText(StartTime), "06:28:00");
    m_Entry.SetDisplay(1, 0, 4294967280LL + 61);
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "0:00:01:01");
    // The clock-less form uses today's clock, before that start.
    m_Entry.SetDisplay(1, 0);
    EXPECT_EQ(m_Entry.GetColumnText(Duration), "0");
}

TEST_F(EntryObjTest, CloseGivesClosedOrFailedByTheLastNonZeroResultAndOnlyOnce) {
    EntryObj closed;
    uint32_t delta = 0;
    ASSERT_EQ(closed.Apply(Open(1, 1), delta), 1);
    ASSERT_EQ(closed.Apply(Result(1, 1, 0), delta), 1);
    ASSERT_EQ(closed.Apply(Close(1, 1), delta), 1);
    EXPECT_EQ(closed.m_Status, 2);
    EXPECT_EQ(closed.m_bFinished, 1);

    Take(Open(2, 2));
    Take(Result(2, 2, 5));
    Take(Result(2, 2, 0));  // a later success does not erase the failure
    EXPECT_EQ(m_Entry.m_FailureCode, 5);
    EXPECT_EQ(m_Entry.m_Status, 0);
    Take(Close(2, 2));
    EXPECT_EQ(m_Entry.m_Status, 1);
    EXPECT_EQ(m_Entry.m_bFinished, 1);
    EXPECT_EQ(m_Entry.m_Kind, 0);
    EXPECT_EQ(m_Entry.Apply(Close(2, 2), delta), 0);  // a second close
    EXPECT_EQ(m_Entry.m_Status, 1);
}

TEST_F(EntryObjTest, AuthentificationNamesTheMethodOnceOpened) {
    MonitorRecord update = Update(4, 4, 1, 1);
    update.m_AuthMethod = 2;  // only an open record makes the column show
    Take(update);
    EXPECT_EQ(m_Entry.GetColumnText(Auth), "");

    const struct {
        uint8_t method;
        const char* name;
    } cases[] = {{0x00, "No authentication"},   {0x01, "GSSAPI"},
                 {0x02, "Username/Password"},   {0x03, "IANA method 0x03"},
                 {0x7F, "IANA method 0x7F"},    {0x80, "Private method 0x80"},
                 {0xFE, "Private method 0xFE"}, {0xFF, "No acceptable method"}};
    for (const auto& c : cases) {
        EntryObj entry;
        MonitorRecord open = Open(4, 4);
        open.m_AuthMethod = c.method;
        uint32_t delta = 0;
        ASSERT_EQ(entry.Apply(open, delta), 1);
        EXPECT_EQ(entry.GetColumnText(Auth), c.name) << int(c.method);
        EXPECT_EQ(entry.m_AuthMethod, c.method);
    }
}

}  // namespace
