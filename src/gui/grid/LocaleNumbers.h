#pragma once
// Numbers as a reader of the user's locale writes them ("1,234,567.5" or
// "1.234.567,5"), for what the grid and its totals show. The core makes its
// texts with plain digits (copies and exports keep those); these put the
// locale's group separators and decimal point into such a text.

#include <QString>
#include <cstdint>

class LocaleNumbers {
public:
    // A count ("12,345").
    static QString Count(uint64_t value);
    // A text that starts with a number of plain digits, with or without a
    // fraction, and may go on with a unit ("1234.5 KB/s", "1205.63K"): the
    // number in the locale's form, the rest as it was. Other texts stay.
    static QString Grouped(const QString& text);
};
