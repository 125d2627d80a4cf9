// Control messages: what one side encodes the other reads back, a body
// that lies about its size or its kind is refused, and a block's value is
// checked before any server sees it.

#include <gtest/gtest.h>

#include "core/monitor/MonControl.h"

namespace mon_control_test {

TEST(MonControlTest, EachKindRoundTripsAndAMalformedBodyIsRefused) {
    MonControlRequest request;
    request.m_Op = MonControlOp::Block;
    request.m_What = MonBlockWhat::Destination;
    request.m_Value = std::string(200, 'a') + ".example";  // longer than a record's text
    request.m_Seconds = 3600;
    request.m_bCloseOpen = true;
    request.m_Note = "pulls gigabytes";
    MonBytes body = EncodeControlRequest(request);
    MonControlRequest read;
    ASSERT_TRUE(DecodeControlRequest(body.data(), body.size(), read));
    EXPECT_EQ(read.m_Value, request.m_Value);
    EXPECT_EQ(read.m_Note, request.m_Note);
    EXPECT_EQ(read.m_Seconds, 3600u);
    EXPECT_TRUE(read.m_bCloseOpen);
    EXPECT_EQ(read.m_What, MonBlockWhat::Destination);

    EXPECT_FALSE(DecodeControlRequest(body.data(), body.size() - 1, read)) << "text past the end";
    EXPECT_FALSE(DecodeControlRequest(body.data(), MonControlKind.m_FixedSize - 1, read));
    body[9] = 9;
    EXPECT_FALSE(DecodeControlRequest(body.data(), body.size(), read)) << "unknown op";

    const MonControlAnswer answer{MonControlOp::Close, MonControlStatus::Refused, 0, 0,
                                  "no open connection 1:7"};
    const MonBytes answerBody = EncodeControlAnswer(answer);
    MonControlAnswer readAnswer;
    ASSERT_TRUE(DecodeControlAnswer(answerBody.data(), answerBody.size(), readAnswer));
    EXPECT_EQ(readAnswer.m_Status, MonControlStatus::Refused);
    EXPECT_EQ(readAnswer.m_Text, answer.m_Text);
    EXPECT_FALSE(DecodeControlRequest(answerBody.data(), answerBody.size(), read)) << "other kind";

    const MonBlock block{
        7, MonBlockWhat::Client, "2001:db8::/32", "ops-laptop", "SHA256:abc", 1765000000, 0, ""};
    const MonBytes blockBody = EncodeBlock(block);
    MonBlock readBlock;
    ASSERT_TRUE(DecodeBlock(blockBody.data(), blockBody.size(), readBlock));
    EXPECT_EQ(readBlock.m_Id, 7u);
    EXPECT_EQ(readBlock.m_Value, block.m_Value);
    EXPECT_EQ(readBlock.m_ByName, "ops-laptop");
    EXPECT_EQ(readBlock.m_Since, 1765000000u);
    EXPECT_EQ(readBlock.m_Until, 0u);
}

TEST(MonControlTest, BlockValuesAreCheckedByKind) {
    EXPECT_EQ(MonBlockValueProblem(MonBlockWhat::User, "alice"), "");
    EXPECT_NE(MonBlockValueProblem(MonBlockWhat::User, ""), "");
    EXPECT_EQ(MonBlockValueProblem(MonBlockWhat::Client, "192.0.2.0/24"), "");
    EXPECT_EQ(MonBlockValueProblem(MonBlockWhat::Client, "2001:db8::7"), "");
    EXPECT_NE(MonBlockValueProblem(MonBlockWhat::Client, "example.com"), "");
    EXPECT_NE(MonBlockValueProblem(MonBlockWhat::Client, "192.0.2.0/33"), "");
    EXPECT_EQ(MonBlockValueProblem(MonBlockWhat::Destination, "cdn.example.com"), "");
    EXPECT_EQ(MonBlockValueProblem(MonBlockWhat::Destination, "198.51.100.0/24"), "");
    EXPECT_NE(MonBlockValueProblem(MonBlockWhat::Destination, "bad name.example"), "");
    EXPECT_NE(MonBlockValueProblem(MonBlockWhat::Destination, "a..b"), "");
}

}  // namespace mon_control_test
