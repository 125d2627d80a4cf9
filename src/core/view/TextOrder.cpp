#include "core/view/TextOrder.h"

#include <array>

namespace {

// Where an ASCII character goes in the order of texts: controls, blanks and
// punctuation, then digits, then letters, with either case in one place;
// the order within the punctuation is the one a collation for people uses.
const std::array<uint8_t, 128>& AsciiRanks() {
    static const std::array<uint8_t, 128> ranks = [] {
        std::array<uint8_t, 128> all{};
        const char* const order =
            " _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$0123456789abcdefghijklmnopqrstuvwxyz";
        uint8_t rank = 1;
        for (const char* c = order; *c != 0; ++c) all[static_cast<uint8_t>(*c)] = rank++;
        for (char c = 'A'; c <= 'Z'; ++c)
            all[static_cast<uint8_t>(c)] = all[static_cast<uint8_t>(c - 'A' + 'a')];
        return all;
    }();
    return ranks;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool IsAsciiText(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

int CompareAsciiText(std::string_view left, std::string_view right) {
    const auto& ranks = AsciiRanks();
    const char* l = left.data();
    const char* r = right.data();
    const char* const lEnd = l + left.size();
    const char* const rEnd = r + right.size();
    while (l != lEnd && r != rEnd) {
        if (IsDigit(*l) && IsDigit(*r)) {
            if (int order = CompareDigitRuns(l, lEnd, r, rEnd)) return order;
            continue;
        }
        const uint8_t lRank = ranks[static_cast<uint8_t>(*l)];
        const uint8_t rRank = ranks[static_cast<uint8_t>(*r)];
        if (lRank != rRank) return lRank < rRank ? -1 : 1;
        ++l;
        ++r;
    }
    return (l != lEnd) - (r != rEnd);
}

// A number becomes the digits' rank, its length without leading zeros, then
// its digits, so that prefixes order numbers by value as the full comparison does.
uint64_t AsciiOrderPrefix(std::string_view text) {
    const auto& ranks = AsciiRanks();
    const uint8_t digitRank = ranks['0'];
    uint64_t prefix = 0;
    int bytes = 0;
    auto put = [&prefix, &bytes](uint8_t byte) {
        if (bytes == 8) return;
        prefix = prefix << 8 | byte;
        ++bytes;
    };
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at != end && bytes < 8) {
        if (!IsDigit(*at)) {
            put(ranks[static_cast<uint8_t>(*at++)]);
            continue;
        }
        while (at != end && *at == '0') ++at;
        const char* const start = at;
        while (at != end && IsDigit(*at)) ++at;
        put(digitRank);
        if (at - start > 254) {
            put(255);  // longer than any other; what follows is left to the full comparison
            break;
        }
        put(static_cast<uint8_t>(at - start));
        for (const char* digit = start; digit != at; ++digit)
            put(ranks[static_cast<uint8_t>(*digit)]);
    }
    return bytes == 0 ? 0 : prefix << (8 * (8 - bytes));
}
