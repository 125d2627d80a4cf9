// The JSON log: a client's text cannot break out of its string, bytes that
// are not UTF-8 stay readable, and a wrong format is named with the right ones.

#include <gtest/gtest.h>

#include "ProxyConfigFile.h"
#include "ServerLog.h"
#include "ProxyOptions.h"
#include "ProxyPartsTest.h"

namespace {
namespace log_test {

TEST(ServerLogTest, JsonStringsAreEscapedAndAWrongFormatIsNamed) {
    EXPECT_EQ(ServerLog::JsonQuote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(ServerLog::JsonQuote("line\nnext\x1b\x7f"), "\"line\\u000anext\\u001b\\u007f\"");
    // Valid UTF-8 stays as it is; anything else reads as Latin-1.
    EXPECT_EQ(ServerLog::JsonQuote("J\xc3\xb6rg"), "\"J\xc3\xb6rg\"");
    EXPECT_EQ(ServerLog::JsonQuote("J\xf6rg\xff"), "\"J\\u00f6rg\\u00ff\"");

    ProxyOptions options;
    std::string error;
    EXPECT_TRUE(ParseProxyOptions({"--log-format", "json"}, options, error)) << error;
    EXPECT_EQ(options.m_LogFormat, LogFormat::Json);
    EXPECT_FALSE(ParseProxyOptions({"--log-format", "xml"}, options, error));
    EXPECT_EQ(error, "bad value for --log-format: \"xml\" (expected text or json)");
    const TempFile file("log_format = \"JSON\"\n");
    EXPECT_FALSE(LoadProxyConfigFile(file.Path(), options, error));
    EXPECT_EQ(error,
              file.Path() + ":1: bad value for --log-format: \"JSON\" (expected text or json)");
}

}  // namespace log_test
}  // namespace
