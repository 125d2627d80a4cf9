// Which bytes count as UTF-8 decides how every view and export shows a
// monitor's text, so the check is strict: what it lets through is written
// as it is, all else is read as Latin-1.

#include <gtest/gtest.h>

#include <utility>

#include "core/base/Utf8Text.h"

namespace {

TEST(Utf8TextTest, OnlyWellFormedUtf8IsKeptAndAllElseIsReadAsLatin1) {
    for (const char* valid :
         {"", "plain", "M\xC3\xBCller", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(IsUtf8(valid)) << valid;
        EXPECT_EQ(MonitorUtf8(valid), valid);
    }
    const std::pair<const char*, const char*> invalid[] = {{"\xC0\xAF", "overlong"},
                                                           {"\xE0\x80\xAF", "overlong"},
                                                           {"\xF0\x80\x80\xAF", "overlong"},
                                                           {"\xED\xA0\x80", "surrogate"},
                                                           {"\xED\xBF\xBF", "surrogate"},
                                                           {"\xF4\x90\x80\x80", "past U+10FFFF"},
                                                           {"\xF5\x80\x80\x80", "past U+10FFFF"},
                                                           {"\xC3", "cut short"},
                                                           {"\xE2\x82", "cut short"},
                                                           {"ab\xF0\x9F\x98", "cut short"},
                                                           {"\x80", "no lead byte"},
                                                           {"M\xFCller", "Latin-1"}};
    for (const auto& [bytes, why] : invalid) EXPECT_FALSE(IsUtf8(bytes)) << why;

    EXPECT_EQ(MonitorUtf8("M\xFCller"), "M\xC3\xBCller");
    EXPECT_EQ(MonitorUtf8("\xC3"), "\xC3\x83");                          // Ã
    EXPECT_EQ(MonitorUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // í, NBSP, U+0080
}

}  // namespace
