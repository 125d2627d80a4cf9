// The monitor message stream: the request/batch exchange over real sockets
// against the fake monitor, and the decoder on exact-size bodies (so that the
// sanitizer build catches any read outside a body).

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <poll.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/monitor/MonHostName.h"
#include "core/monitor/MonStream.h"
#include "core/monitor/MonTcp.h"
#include "support/FakeMonitor.h"

namespace {

const MonBytes Request{0x00, 0x01, 0x00};

struct DecodeResult {
    int32_t m_Result;
    MonitorRecord m_Record;
};

DecodeResult Decode(const MonBytes& body) {
    DecodeResult decoded{};
    // A heap copy of exactly the body's size: one byte too far is an overflow.
    std::vector<uint8_t> exact(body);
    decoded.m_Result =
        Mon_Decode(static_cast<uint16_t>(exact.size()), exact.data(), &decoded.m_Record);
    return decoded;
}

class MonStreamTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_Connection) {
            EXPECT_EQ(Mon_Close(m_Connection), 0);
        }
        Mon_TcpSetTimeouts(15000, 30000);
    }

    void Open() {
        ASSERT_EQ(Mon_Open(m_Monitor.Host().c_str(), &m_Connection), 0);
        ASSERT_NE(m_Connection, nullptr);
    }

    int32_t Read() {
        std::memset(&m_Record, 0, sizeof m_Record);
        return Mon_Read(m_Connection, &m_Record);
    }

    FakeMonitor m_Monitor;
    MonitorConnection* m_Connection = nullptr;
    MonitorRecord m_Record{};
};

TEST_F(MonStreamTest, OneRequestPerBatchAndANewOneAfterTheEmptyMessage) {
    m_Monitor.QueueBatch({EncodeClose(1, 2), EncodeClose(3, 4)});
    m_Monitor.QueueBatch({});
    Open();
    EXPECT_EQ(m_Connection->m_bRequestOutstanding, 0);

    ASSERT_EQ(Read(), 1);
    EXPECT_EQ(m_Record.m_IdHigh, 1u);
    EXPECT_EQ(m_Connection->m_bRequestOutstanding, 1);
    ASSERT_EQ(Read(), 1);
    EXPECT_EQ(m_Record.m_IdLow, 4u);
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(m_Connection->m_bRequestOutstanding, 0);
    EXPECT_EQ(m_Monitor.Requests(), std::vector<MonBytes>{Request});

    // A monitor with nothing new answers with the empty message alone.
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(m_Connection->m_bRequestOutstanding, 0);
    EXPECT_EQ(m_Monitor.Received(), Concat({Request, Request}));
}

TEST_F(MonStreamTest, DecodesRecordsArrivingByteByByte) {
    const MonBytes open =
        EncodeOpen(10, 20, 0x02, 1700000000, "alice", EncodeSockAddr("10.1.2.3", 1080), "ws7");
    m_Monitor.QueueReply({FakeStep::SendBytewise(FrameBatch({open}))});
    Open();
    ASSERT_EQ(Read(), 1);
    EXPECT_EQ(m_Record.m_Kind, RecordKindOpen);
    EXPECT_STREQ(m_Record.m_UserName, "alice");
    ASSERT_EQ(Read(), 0);
}

TEST_F(MonStreamTest, IllegalKindFailsAndKeepsTheLastErrorCode) {
    for (uint8_t kind : {uint8_t{0}, uint8_t{5}}) {
        MonBytes body = EncodeClose(7, 42);
        body[0] = kind;
        m_Monitor.QueueBatch({body});
        Open();
        m_Connection->m_LastErrorCode = 123;
        EXPECT_EQ(Read(), -1);
        EXPECT_EQ(m_Connection->m_LastErrorCode, 123);
        EXPECT_STREQ(m_Connection->m_LastErrorText, "illegal message from monitor");
        EXPECT_EQ(Mon_Close(m_Connection), 0);
        m_Connection = nullptr;
    }
}

TEST_F(MonStreamTest, BodyOfTheBufferSizeIsReadAndOneMoreFails) {
    MonBytes full = EncodeResult(1, 2, 0, "padded");
    full.resize(1024, 0x20);
    MonBytes oversized = full;
    oversized.push_back(0x20);
    m_Monitor.QueueBatch({full, oversized});
    Open();
    ASSERT_EQ(Read(), 1);
    EXPECT_STREQ(m_Record.m_ResultText, "padded");
    EXPECT_EQ(Read(), -1);
    EXPECT_EQ(m_Connection->m_LastErrorCode, 10040);
    EXPECT_STREQ(m_Connection->m_LastErrorText, "WSAEMSGSIZE - recv() invalid message length");
}

TEST_F(MonStreamTest, MonitorClosingBetweenMessagesIsAFailure) {
    m_Monitor.QueueReply({FakeStep::Send(FrameMessage(EncodeClose(1, 1))), FakeStep::Close()});
    Open();
    ASSERT_EQ(Read(), 1);
    EXPECT_EQ(Read(), -1);
    EXPECT_EQ(m_Connection->m_LastErrorCode, 10054);
    EXPECT_STREQ(m_Connection->m_LastErrorText, "WSAECONNRESET - recv() failed message length=0");
}

TEST_F(MonStreamTest, RequestToAClosedMonitorFails) {
    Open();
    m_Monitor.CloseClient(true);
    // Once the reset has reached this end, the request itself cannot go out.
    pollfd reset{m_Connection->m_Socket, POLLIN, 0};
    ASSERT_EQ(::poll(&reset, 1, 10000), 1);
    EXPECT_EQ(Read(), -1);
    EXPECT_EQ(m_Connection->m_bRequestOutstanding, 0);  // nothing is awaited
    EXPECT_EQ(m_Connection->m_LastErrorCode, 10054);
    EXPECT_STREQ(m_Connection->m_LastErrorText,
                 "WinSock error=10054 WSAECONNRESET - connection reset by the remote side");
    EXPECT_EQ(m_Monitor.RequestCount(), 0u);
}

int UnknownName(const char*, uint32_t*) {
    return EAI_NONAME;
}

TEST(MonStreamOpenTest, UnknownHostStillHandsOutABlock) {
    MonitorConnection* connection = nullptr;
    Mon_TcpSetHostLookup(UnknownName);
    EXPECT_EQ(Mon_Open("no-such-host.invalid", &connection), -1);
    Mon_TcpSetHostLookup(nullptr);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->m_Socket, -1);
    EXPECT_EQ(connection->m_LastErrorCode, 11001);
    EXPECT_STREQ(connection->m_LastErrorText,
                 "WinSock error=11001 WSAHOST_NOT_FOUND - Authoritive Answer Host not found");
    MonitorRecord record{};
    EXPECT_EQ(Mon_Read(connection, &record), -1);
    EXPECT_EQ(connection->m_LastErrorCode, 10022);
    EXPECT_EQ(connection->m_bRequestOutstanding, 0);
    const int32_t openCount = Mon_TcpOpenCount;
    EXPECT_EQ(Mon_Close(connection), 0);
    EXPECT_EQ(Mon_TcpOpenCount, openCount);

    EXPECT_EQ(Mon_Close(nullptr), -1);
    EXPECT_EQ(Mon_Read(nullptr, &record), -1);
}

TEST(MonHostNameTest, PortsAndIpv6AddressesAreSplitOff) {
    const struct {
        const char* m_Text;
        const char* m_Host;
        uint16_t m_Port;
    } good[] = {
        {"monitor.example", "monitor.example", 5051}, {"monitor.example:6000", "monitor.example", 6000},
        {"::1", "::1", 5051},                         {"[::1]:65535", "::1", 65535},
        {"[fe80::1%eth0]", "fe80::1%eth0", 5051},     {"10.1.2.3:1", "10.1.2.3", 1},
    };
    for (const auto& form : good) {
        std::string host;
        uint16_t port = 0;
        EXPECT_TRUE(Mon_ParseHostName(form.m_Text, host, port)) << form.m_Text;
        EXPECT_EQ(host, form.m_Host);
        EXPECT_EQ(port, form.m_Port) << form.m_Text;
    }
    for (const char* bad : {"", ":5051", "[]:5051", "[::1", "[::1]5051", "host:", "host:0",
                            "host:65536", "host:12a", "[::1]:-1"}) {
        std::string host = "kept";
        uint16_t port = 7;
        EXPECT_FALSE(Mon_ParseHostName(bad, host, port)) << bad;
        EXPECT_EQ(host, "kept");
    }
    MonitorConnection* connection = nullptr;
    EXPECT_EQ(Mon_Open("host:99999", &connection), -1);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->m_LastErrorCode, 11001);
    EXPECT_EQ(Mon_Close(connection), 0);
}

// The lookup of a made-up name: first an IPv4 address where nothing listens
// (a bound socket that does not listen refuses), then IPv6 loopback.
uint16_t g_RefusingPort = 0;
int RefusingThenIpv6(const char*, uint16_t port, std::vector<MonAddress>* addresses) {
    MonAddress refusing{};
    auto& in = reinterpret_cast<sockaddr_in&>(refusing.m_Address);
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in.sin_port = htons(g_RefusingPort);
    refusing.m_Length = sizeof in;
    MonAddress loopback6{};
    auto& in6 = reinterpret_cast<sockaddr_in6&>(loopback6.m_Address);
    in6.sin6_family = AF_INET6;
    in6.sin6_addr = in6addr_loopback;
    in6.sin6_port = htons(port);
    loopback6.m_Length = sizeof in6;
    addresses->assign({refusing, loopback6});
    return 0;
}

TEST(MonStreamOpenTest, ReachesAMonitorOnIpv6LoopbackAndAnotherPort) {
    FakeMonitor monitor(FakeMonitor::Loopback::Ipv6);
    const std::string port = std::to_string(monitor.ListenPort());
    monitor.QueueBatch({EncodeClose(1, 2)});
    monitor.QueueBatch({EncodeClose(3, 4)});

    auto readOneBatch = [](const std::string& name, uint32_t idLow) {
        MonitorConnection* connection = nullptr;
        ASSERT_EQ(Mon_Open(name.c_str(), &connection), 0) << name << ": "
                                                          << connection->m_LastErrorText;
        MonitorRecord record{};
        EXPECT_EQ(Mon_Read(connection, &record), 1);
        EXPECT_EQ(record.m_IdLow, idLow);
        EXPECT_EQ(Mon_Read(connection, &record), 0);
        EXPECT_EQ(Mon_Close(connection), 0);
    };
    readOneBatch("[::1]:" + port, 2);

    // A name with several addresses: the one that refuses is passed over.
    const int refusing = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof bound;
    ASSERT_EQ(::bind(refusing, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
    ::getsockname(refusing, reinterpret_cast<sockaddr*>(&bound), &size);
    g_RefusingPort = ntohs(bound.sin_port);
    Mon_TcpSetAddressLookup(RefusingThenIpv6);
    readOneBatch("dual-stack.test:" + port, 4);
    Mon_TcpSetAddressLookup(nullptr);
    ::close(refusing);
    EXPECT_EQ(monitor.ConnectionCount(), 2u);
}

TEST(MonDecodeTest, OpenRecord) {
    const MonBytes addr = EncodeSockAddr("192.168.7.9", 4321);
    const DecodeResult d = Decode(EncodeOpen(0x01020304, 0xFFFFFFFE, 0x02, 0xF0000000u, "carol",
                                             addr, "desk.example.org", 99));
    ASSERT_EQ(d.m_Result, 0);
    const MonitorRecord& r = d.m_Record;
    EXPECT_EQ(r.m_Kind, 0x80000004u);
    EXPECT_EQ(r.m_IdHigh, 0x01020304u);
    EXPECT_EQ(r.m_IdLow, 0xFFFFFFFEu);
    EXPECT_EQ(r.m_AuthMethod, 0x02);
    EXPECT_EQ(r.m_StartTime, 0xF0000000u);
    EXPECT_EQ(r.m_Reserved, 99u);
    EXPECT_STREQ(r.m_UserName, "carol");
    EXPECT_EQ(MonBytes(r.m_SourceAddr, r.m_SourceAddr + 16), addr);
    EXPECT_EQ(r.m_SourceAddr[4], 192);
    EXPECT_STREQ(r.m_SourceName, "desk.example.org");
}

TEST(MonDecodeTest, UpdateRecordWithReferencesInAnyOrder) {
    const MonBytes next = EncodeSockAddr("10.0.0.2", 1080);
    const MonBytes dest = EncodeSockAddr("93.184.216.34", 80);
    const DecodeResult d = Decode(EncodeUpdate(5, 6, "www", next, "hop.example", dest,
                                               "www.example.com", 3000000000u, 1234, 1, 77));
    ASSERT_EQ(d.m_Result, 0);
    const MonitorRecord& r = d.m_Record;
    EXPECT_EQ(r.m_Kind, 0x80000001u);
    EXPECT_EQ(r.m_Reserved, 77u);
    EXPECT_EQ(r.m_TrafficIn, 3000000000u);
    EXPECT_EQ(r.m_TrafficOut, 1234u);
    EXPECT_EQ(r.m_UpdateFlag, 1);
    EXPECT_STREQ(r.m_ServiceName, "www");
    EXPECT_EQ(MonBytes(r.m_NextServerAddr, r.m_NextServerAddr + 16), next);
    EXPECT_STREQ(r.m_NextServerName, "hop.example");
    EXPECT_EQ(MonBytes(r.m_DestAddr, r.m_DestAddr + 16), dest);
    EXPECT_STREQ(r.m_DestName, "www.example.com");

    // Offsets count from byte 42: offset 0 is body byte 42, whichever field
    // points there.
    MonBytes body;
    body.push_back(2);
    AppendU32(body, 1);
    AppendU32(body, 2);
    body.resize(22, 0);
    const uint16_t refs[5][2] = {{3, 5}, {0, 0}, {0, 0}, {0, 0}, {5, 0}};
    for (const auto& ref : refs) {
        AppendU16(body, ref[0]);
        AppendU16(body, ref[1]);
    }
    ASSERT_EQ(body.size(), 42u);
    for (char c : std::string("hostsftp")) {
        body.push_back(static_cast<uint8_t>(c));
    }
    const DecodeResult hand = Decode(body);
    ASSERT_EQ(hand.m_Result, 0);
    EXPECT_STREQ(hand.m_Record.m_DestName, "hosts");
    EXPECT_STREQ(hand.m_Record.m_ServiceName, "ftp");
    EXPECT_EQ(hand.m_Record.m_NextServerAddr[4], 0) << "length 0: not sent";
}

TEST(MonDecodeTest, ResultRecordMatchesTheWorkedExample) {
    const MonBytes body = EncodeResult(7, 42, 5, "refused!");
    MonBytes expected{0x03, 0, 0, 0, 7, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0, 5, 0, 8, 0, 0};
    for (char c : std::string("refused!")) {
        expected.push_back(static_cast<uint8_t>(c));
    }
    ASSERT_EQ(body, expected);
    ASSERT_EQ(body.size(), 29u);
    const DecodeResult d = Decode(body);
    ASSERT_EQ(d.m_Result, 0);
    EXPECT_EQ(d.m_Record.m_Kind, 0x80000002u);
    EXPECT_EQ(d.m_Record.m_ResultCode, 5u);
    EXPECT_STREQ(d.m_Record.m_ResultText, "refused!");
}

TEST(MonDecodeTest, CloseRecordMatchesTheWorkedExample) {
    const MonBytes wire{0x00, 0x0D, 0x04, 0x00, 0x00, 0x00, 0x07, 0x00,
                        0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(FrameMessage(EncodeClose(7, 42, 0)), wire);
    const DecodeResult d = Decode(MonBytes(wire.begin() + 2, wire.end()));
    ASSERT_EQ(d.m_Result, 0);
    EXPECT_EQ(d.m_Record.m_Kind, 0u);
    EXPECT_EQ(d.m_Record.m_IdHigh, 7u);
    EXPECT_EQ(d.m_Record.m_IdLow, 42u);
    EXPECT_EQ(Decode(EncodeClose(1, 2, 0xDEADBEEF)).m_Record.m_CloseValue, 0xDEADBEEFu);
}

TEST(MonDecodeTest, UnsentFieldsStayEmpty) {
    const DecodeResult d = Decode(EncodeOpen(1, 2, 0, 0, "", {}, "host"));
    ASSERT_EQ(d.m_Result, 0);
    EXPECT_STREQ(d.m_Record.m_UserName, "");
    EXPECT_EQ(MonBytes(d.m_Record.m_SourceAddr, d.m_Record.m_SourceAddr + 16), MonBytes(16, 0));
    EXPECT_STREQ(d.m_Record.m_SourceName, "host");
}

TEST(MonDecodeTest, LongTextsAreCutToTheirField) {
    const std::string longName(300, 'n');
    const DecodeResult d =
        Decode(EncodeUpdate(1, 2, "a-very-long-service-name", {}, longName, {}, "", 1, 2));
    ASSERT_EQ(d.m_Result, 0);
    EXPECT_EQ(std::string(d.m_Record.m_ServiceName), "a-very-long-ser");
    EXPECT_EQ(std::string(d.m_Record.m_NextServerName), std::string(127, 'n'));

    // A UTF-8 text loses the whole character that straddles the cut, so that
    // it still reads as UTF-8; a single-byte text is cut at the byte.
    std::string utf8Name(126, 'n');
    for (int i = 0; i < 4; ++i) utf8Name += "\xC3\xA9";  // é
    const DecodeResult u = Decode(EncodeUpdate(1, 2, "www", {}, utf8Name, {}, "", 1, 2));
    EXPECT_EQ(std::string(u.m_Record.m_NextServerName), std::string(126, 'n'));
    std::string latin1Name(126, 'n');
    latin1Name += "\xE9\xE9\xE9";
    const DecodeResult l = Decode(EncodeUpdate(1, 2, "www", {}, latin1Name, {}, "", 1, 2));
    EXPECT_EQ(std::string(l.m_Record.m_NextServerName), std::string(126, 'n') + "\xE9");
}

TEST(MonDecodeTest, MessagesThatWouldReadOutsideTheBodyAreIllegal) {
    const std::vector<MonBytes> legal = {
        EncodeOpen(1, 2, 0, 0, "u", EncodeSockAddr("1.2.3.4"), "s"),
        EncodeUpdate(1, 2, "www", {}, "", EncodeSockAddr("5.6.7.8"), "d", 1, 2),
        EncodeResult(1, 2, 3, "text"), EncodeClose(1, 2)};
    const size_t fixedSize[] = {30, 42, 21, 13};
    for (size_t kind = 0; kind < legal.size(); ++kind) {
        SCOPED_TRACE(kind + 1);
        EXPECT_EQ(Decode(legal[kind]).m_Result, 0);
        EXPECT_EQ(
            Decode(MonBytes(legal[kind].begin(),
                            legal[kind].begin() + static_cast<ptrdiff_t>(fixedSize[kind]) - 1))
                .m_Result,
            -1)
            << "shorter than the fixed part";
        if (legal[kind].size() > fixedSize[kind]) {
            EXPECT_EQ(Decode(MonBytes(legal[kind].begin(), legal[kind].end() - 1)).m_Result, -1)
                << "last reference reaches one byte past the body";
        }
    }
    EXPECT_EQ(Decode({0x04, 0, 0, 0}).m_Result, -1) << "no room for the id words";

    MonBytes offsetTooFar = EncodeResult(1, 2, 3, "text");
    PutRef(offsetTooFar, 0, 4, 1);
    EXPECT_EQ(Decode(offsetTooFar).m_Result, -1);
    MonBytes hugeOffset = EncodeResult(1, 2, 3, "text");
    PutRef(hugeOffset, 0, 4, 0xFFFF);
    EXPECT_EQ(Decode(hugeOffset).m_Result, -1);

    MonBytes shortAddress = EncodeOpen(1, 2, 0, 0, "", {}, "");
    shortAddress.insert(shortAddress.end(), 15, 0x01);
    PutRef(shortAddress, 1, 15, 0);
    EXPECT_EQ(Decode(shortAddress).m_Result, -1) << "an address is 16 bytes or not sent";
}

}  // namespace
