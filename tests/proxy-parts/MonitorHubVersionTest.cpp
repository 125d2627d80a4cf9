// The hub's batch in the second version of the records, read back by the
// client's decoder: an IPv6 client, the name the client asked for, 64-bit
// totals and the end time. The first version's bytes are what they were.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "MonitorHub.h"
#include "core/monitor/MonStream.h"

namespace {

std::vector<MonitorRecord> Records(int version, const MonBytes& batch) {
    std::vector<MonitorRecord> records;
    size_t at = 0;
    for (;;) {
        const uint16_t length = static_cast<uint16_t>(batch.at(at) << 8 | batch.at(at + 1));
        if (length == 0) break;
        MonitorRecord record{};
        EXPECT_EQ(Mon_DecodeVersion(version, length, batch.data() + at + 2, &record), 0);
        records.push_back(record);
        at += 2 + size_t{length};
    }
    return records;
}

std::shared_ptr<ConnectionInfo> Connection() {
    auto info = std::make_shared<ConnectionInfo>();
    info->m_Id = 7;
    info->m_StartTime = 1765000000;
    info->m_Source = MonitorAddress(tcp::endpoint(asio::ip::make_address("2001:db8::5"), 40001));
    info->SetDestination(
        "www", "site.example",
        MonitorAddress(tcp::endpoint(asio::ip::make_address("::ffff:10.0.0.8"), 443)));
    info->m_BytesIn = (uint64_t{6} << 32) + 1;
    info->m_BytesOut = 12;
    return info;
}

TEST(MonitorHubVersionTest, SecondVersionCarriesIpv6AndWideTotalsFirstKeepsItsBytes) {
    MonitorHub hub(3);
    auto feed2 = hub.Attach();
    auto feed1 = hub.Attach();
    const auto info = Connection();
    hub.Open(info);
    hub.Close(info);
    MonBytes batch;
    ASSERT_TRUE(hub.TakeBatch(*feed2, batch, 2));
    const std::vector<MonitorRecord> v2 = Records(2, batch);
    ASSERT_EQ(v2.size(), 3u);  // open, update, close
    EXPECT_EQ(Mon_AddressText(v2[0].m_Source), "2001:db8::5");
    EXPECT_EQ(v2[0].m_Source.m_Port, 40001);
    EXPECT_EQ(v2[1].m_TotalIn64, (uint64_t{6} << 32) + 1);
    EXPECT_STREQ(v2[1].m_DestName, "site.example");
    EXPECT_EQ(Mon_AddressText(v2[1].m_Dest), "10.0.0.8");  // a mapped address as IPv4
    EXPECT_EQ(v2[1].m_Dest.m_Port, 443);
    EXPECT_EQ(v2[2].m_EndTime64, info->m_EndTime);
    EXPECT_NE(info->m_EndTime, 0u);

    ASSERT_TRUE(hub.TakeBatch(*feed1, batch));
    MonBytes expected;
    AppendFrame(expected, EncodeOpen(3, 7, 0, 1765000000, "", {}, ""));  // IPv6 goes by name only
    AppendFrame(expected, EncodeUpdate(3, 7, "www", {}, "", EncodeSockAddr(0x0A000008, 443),
                                       "site.example", 1, 12));
    AppendFrame(expected, EncodeClose(3, 7, info->m_EndTime));
    AppendU16(expected, 0);
    EXPECT_EQ(batch, expected);
}

}  // namespace
