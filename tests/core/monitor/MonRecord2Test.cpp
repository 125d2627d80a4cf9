// The second version of the records: what the encoder writes the decoder
// reads back, a malformed body is illegal, and each version's stream takes
// only its own kinds.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/monitor/MonEncode.h"
#include "core/monitor/MonNetAddress.h"
#include "core/monitor/MonStream.h"
#include "support/RecordEncoder.h"

namespace {

MonNetAddress Address(const char* text, uint16_t port) {
    MonNetAddress address{};
    EXPECT_TRUE(Mon_ParseAddress(text, address)) << text;
    address.m_Port = port;
    return address;
}

int32_t Decode(int version, const MonBytes& body, MonitorRecord& record) {
    record = MonitorRecord{};
    return Mon_DecodeVersion(version, static_cast<uint16_t>(body.size()), body.data(), &record);
}

constexpr uint64_t PastFourGiB = (uint64_t{5} << 32) + 7;

std::vector<MonBytes> ValidBodies() {
    return {EncodeOpen2(1, 2, 0x02, 1765000000, "ann", Address("2001:db8::7", 40000), "laptop"),
            EncodeUpdate2(1, 2, "www", Address("10.0.0.9", 1080), "next",
                          Address("2001:db8::1", 443), "site.example", PastFourGiB, 3),
            EncodeResult2(1, 2, 5, "refused"), EncodeClose2(1, 2, 1765000100)};
}

TEST(MonRecord2Test, RoundTripKeepsWideTotalsTimesAndAddressesOfBothFamilies) {
    const std::vector<MonBytes> bodies = ValidBodies();
    MonitorRecord record;
    ASSERT_EQ(Decode(2, bodies[0], record), 0);
    EXPECT_EQ(record.m_Version, 2);
    EXPECT_EQ(record.m_StartTime64, 1765000000u);
    EXPECT_EQ(record.m_AuthMethod, 0x02);
    EXPECT_EQ(Mon_AddressText(record.m_Source), "2001:db8::7");
    EXPECT_EQ(record.m_Source.m_Port, 40000);
    EXPECT_STREQ(record.m_UserName, "ann");

    ASSERT_EQ(Decode(2, bodies[1], record), 0);
    EXPECT_EQ(record.m_TotalIn64, PastFourGiB);
    EXPECT_EQ(record.m_TotalOut64, 3u);
    EXPECT_EQ(Mon_AddressText(record.m_Dest), "2001:db8::1");
    EXPECT_EQ(record.m_Dest.m_Port, 443);
    EXPECT_EQ(Mon_AddressText(record.m_NextServer), "10.0.0.9");
    EXPECT_EQ(record.m_NextServer.m_Port, 1080);
    EXPECT_STREQ(record.m_DestName, "site.example");
    EXPECT_STREQ(record.m_ServiceName, "www");

    ASSERT_EQ(Decode(2, bodies[2], record), 0);
    EXPECT_EQ(record.m_ResultCode, 5u);
    EXPECT_STREQ(record.m_ResultText, "refused");
    ASSERT_EQ(Decode(2, bodies[3], record), 0);
    EXPECT_EQ(record.m_EndTime64, 1765000100u);
    EXPECT_EQ(record.m_Kind, 0u);

    // A first-version record fills the wide fields from its own.
    ASSERT_EQ(
        Decode(1, EncodeOpen(1, 3, 0, 77, "bob", EncodeSockAddr("10.1.2.3", 5000), ""), record), 0);
    EXPECT_EQ(record.m_Version, 1);
    EXPECT_EQ(record.m_StartTime64, 77u);
    EXPECT_EQ(Mon_AddressText(record.m_Source), "10.1.2.3");
    EXPECT_EQ(record.m_Source.m_Port, 5000);
}

TEST(MonRecord2Test, MalformedBodiesAndKindsOfTheOtherVersionAreIllegal) {
    MonitorRecord record;
    MonBytes badLength = ValidBodies()[0];
    PutRef(badLength, 1, 8, 3);  // an address is 7 or 19 bytes
    MonBytes badFamily = ValidBodies()[0];
    badFamily.at(30 + 3) = 0x05;  // the address follows the 3-byte user name
    MonBytes familyOfOtherLength = EncodeOpen2(1, 2, 0, 1, "", Address("10.0.0.1", 1), "");
    familyOfOtherLength.at(30) = 0x06;
    MonBytes beyond = ValidBodies()[1];
    PutRef(beyond, 4, 12, 200);
    MonBytes shortClose = EncodeClose2(1, 2, 9);
    shortClose.pop_back();
    for (const MonBytes& body : {badLength, badFamily, familyOfOtherLength, beyond, shortClose})
        EXPECT_EQ(Decode(2, body, record), -1);
    EXPECT_EQ(Decode(2, EncodeClose(1, 2, 9), record), -1);
    EXPECT_EQ(Decode(2, EncodeOpen(1, 2, 0, 1, "", {}, ""), record), -1);
    EXPECT_EQ(Decode(1, ValidBodies()[3], record), -1);
    EXPECT_EQ(Decode(1, ValidBodies()[1], record), -1);
    EXPECT_EQ(Decode(3, ValidBodies()[3], record), -1);
}

// Mutated valid bodies, cut and grown: the decoder takes or refuses each
// without reading outside it (the sanitizer tree sees any stray read).
TEST(MonRecord2Test, MutatedBodiesNeverReadOutsideThemselves) {
    std::mt19937 random(20261210);
    const std::vector<MonBytes> valid = ValidBodies();
    MonitorRecord record;
    for (int round = 0; round < 200000; ++round) {
        MonBytes body = valid[random() % valid.size()];
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            const unsigned what = random() % 8;
            if (what == 0 && !body.empty()) {
                body.resize(random() % body.size());
            } else if (what == 1) {
                body.push_back(static_cast<uint8_t>(random()));
            } else if (!body.empty()) {
                body[random() % body.size()] = static_cast<uint8_t>(random());
            }
        }
        // Exactly the body's bytes, on the heap, so that one past them is outside.
        std::vector<uint8_t> exact(body.begin(), body.end());
        const uint8_t* data = exact.empty() ? nullptr : exact.data();
        record = MonitorRecord{};  // as the table clears it before each record
        const int32_t result =
            Mon_DecodeVersion(2, static_cast<uint16_t>(exact.size()), data, &record);
        ASSERT_TRUE(result == 0 || result == -1);
        if (result == 0) {
            ASSERT_LT(std::strlen(record.m_ServiceName), sizeof record.m_ServiceName);
            ASSERT_TRUE(record.m_Source.m_Family == 0 || record.m_Source.m_Family == 4 ||
                        record.m_Source.m_Family == 6);
        }
    }
}

}  // namespace
