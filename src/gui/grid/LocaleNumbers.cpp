#include "gui/grid/LocaleNumbers.h"

#include <QLocale>

QString LocaleNumbers::Count(uint64_t value) {
    return QLocale().toString(static_cast<qulonglong>(value));
}

QString LocaleNumbers::Grouped(const QString& text) {
    qsizetype digits = 0;
    while (digits < text.size() && text[digits].isDigit() && text[digits].unicode() < 0x80)
        ++digits;
    bool whole = false;
    const qulonglong value = text.left(digits).toULongLong(&whole);
    if (digits == 0 || !whole) return text;
    const QLocale locale;
    QString grouped = locale.toString(value);
    qsizetype rest = digits;
    if (rest + 1 < text.size() && text[rest] == QLatin1Char('.') && text[rest + 1].isDigit()) {
        // The fraction's digits are kept as they are: no rounding through a double.
        qsizetype end = rest + 1;
        while (end < text.size() && text[end].isDigit()) ++end;
        grouped += locale.decimalPoint() + text.mid(rest + 1, end - rest - 1);
        rest = end;
    }
    return grouped + text.mid(rest);
}
