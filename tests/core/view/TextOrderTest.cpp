// The order of texts in the grids: numbers by value whatever the locale.

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <string_view>
#include <vector>

#include "core/view/TextOrder.h"

namespace {

// Sorted as the grid sorts: by the prefix first, then by the whole texts.
std::vector<std::string> Sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end(), [](const std::string& l, const std::string& r) {
        const uint64_t lPrefix = AsciiOrderPrefix(l);
        const uint64_t rPrefix = AsciiOrderPrefix(r);
        return lPrefix != rPrefix ? lPrefix < rPrefix : CompareAsciiText(l, r) < 0;
    });
    return texts;
}

using Texts = std::vector<std::string>;

TEST(TextOrderTest, NumbersInTextsCompareByValueInTheCLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(Sorted({"10.0.0.10", "10.0.0.9", "9.255.0.1"}),
              (Texts{"9.255.0.1", "10.0.0.9", "10.0.0.10"}));
    EXPECT_EQ(Sorted({"client40", "client7", "client39", "client6"}),
              (Texts{"client6", "client7", "client39", "client40"}));

    // Leading zeros and case do not count; what follows them still does.
    EXPECT_EQ(CompareAsciiText("host007", "HOST7"), 0);
    EXPECT_EQ(AsciiOrderPrefix("host007"), AsciiOrderPrefix("HOST7"));
    EXPECT_LT(CompareAsciiText("host007a", "host7b"), 0);
    EXPECT_LT(CompareAsciiText("host007", "host8"), 0);
    EXPECT_LT(CompareAsciiText("host", "host0"), 0);

    // Runs beyond any machine number, and beyond what the prefix holds.
    const std::string nines(300, '9');
    EXPECT_EQ(Sorted({"id1" + nines, "id" + nines, "id" + nines.substr(1) + "8",
                      "id18446744073709551616", "id18446744073709551615"}),
              (Texts{"id18446744073709551615", "id18446744073709551616",
                     "id" + nines.substr(1) + "8", "id" + nines, "id1" + nines}));
}

TEST(TextOrderTest, WordsGoByTheCallersCompareAndNumbersStillByValue) {
    auto bytes = [](std::u16string_view l, std::u16string_view r) { return l.compare(r); };
    EXPECT_LT(CompareWithNumbers<char16_t>(u"z\u00eb9", u"z\u00eb10", bytes), 0);
    EXPECT_GT(CompareWithNumbers<char16_t>(u"z\u00eb10b", u"z\u00eb10a", bytes), 0);
    EXPECT_EQ(CompareWithNumbers<char16_t>(u"z\u00eb007", u"z\u00eb7", bytes), 0);
    EXPECT_LT(CompareWithNumbers<char16_t>(u"z\u00eb", u"z\u00eb0", bytes), 0);
    auto reversed = [](std::u16string_view l, std::u16string_view r) { return r.compare(l); };
    EXPECT_GT(CompareWithNumbers<char16_t>(u"a10", u"b9", reversed), 0);
}

}  // namespace
