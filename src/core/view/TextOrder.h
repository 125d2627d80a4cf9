#pragma once
// The order of texts a reader expects, the same in every locale: runs of
// digits compare by their value (10.0.0.9 before 10.0.0.10, client7 before
// client40; leading zeros do not count, and a run of any length is compared
// without being turned into a machine number), letters with case aside, and
// blanks and punctuation before digits before letters. The process locale
// plays no part, so a program started under LC_ALL=C sorts as any other.
// Negative, 0 or positive, like strcmp.

#include <cstdint>
#include <string_view>

// True when every byte is ASCII (such texts take the fast path below).
bool IsAsciiText(std::string_view text);

// Two ASCII texts in that order.
int CompareAsciiText(std::string_view left, std::string_view right);

// The first eight bytes of an ASCII text's place in that order, as one
// number: texts whose prefixes differ are ordered by them alone, so a sort
// walks both texts only for the pairs whose prefixes are equal.
uint64_t AsciiOrderPrefix(std::string_view text);

// Compares the runs of digits that start at `left` and `right` by value and
// moves both past them. Works on bytes and on UTF-16 units alike.
template <class Char>
int CompareDigitRuns(const Char*& left, const Char* leftEnd, const Char*& right,
                     const Char* rightEnd) {
    auto isDigit = [](Char c) { return c >= Char('0') && c <= Char('9'); };
    while (left != leftEnd && *left == Char('0')) ++left;
    while (right != rightEnd && *right == Char('0')) ++right;
    const Char* leftStart = left;
    const Char* rightStart = right;
    while (left != leftEnd && isDigit(*left)) ++left;
    while (right != rightEnd && isDigit(*right)) ++right;
    // Without leading zeros the longer run is the larger number.
    if (left - leftStart != right - rightStart)
        return left - leftStart < right - rightStart ? -1 : 1;
    for (; leftStart != left; ++leftStart, ++rightStart) {
        if (*leftStart != *rightStart) return *leftStart < *rightStart ? -1 : 1;
    }
    return 0;
}

// Any two texts cut into words and numbers: a text is a word (perhaps empty),
// a number, a word, and so on, and two texts compare part by part, numbers by
// value and words by `words` (a function of two views of the same kind that
// returns negative, 0 or positive; a word holds no ASCII digit). The caller
// chooses how words compare (a collation for text beyond ASCII); the numbers
// compare by value whatever it chooses.
template <class Char, class WordCompare>
int CompareWithNumbers(std::basic_string_view<Char> left, std::basic_string_view<Char> right,
                       WordCompare words) {
    auto isDigit = [](Char c) { return c >= Char('0') && c <= Char('9'); };
    const Char* l = left.data();
    const Char* r = right.data();
    const Char* const lEnd = l + left.size();
    const Char* const rEnd = r + right.size();
    for (;;) {
        const Char* lWord = l;
        const Char* rWord = r;
        while (l != lEnd && !isDigit(*l)) ++l;
        while (r != rEnd && !isDigit(*r)) ++r;
        const int word = words(std::basic_string_view<Char>(lWord, static_cast<size_t>(l - lWord)),
                               std::basic_string_view<Char>(rWord, static_cast<size_t>(r - rWord)));
        if (word != 0) return word;
        if (l == lEnd || r == rEnd) return (l != lEnd) - (r != rEnd);
        if (const int number = CompareDigitRuns(l, lEnd, r, rEnd)) return number;
    }
}
