#include "gui/grid/TextCollator.h"

#include <string_view>

#include "core/view/TextOrder.h"
#include "gui/framework/MonitorText.h"

TextCollator::TextCollator() {
    // Digits other than ASCII ones stay inside words; a named locale's
    // collation still orders those by value.
    m_Collator.setNumericMode(true);
    m_Collator.setCaseSensitivity(Qt::CaseInsensitive);
}

int TextCollator::Compare(const std::string& left, const std::string& right) const {
    if (IsAsciiText(left) && IsAsciiText(right)) return CompareAsciiText(left, right);
    return Compare(MonitorText(left), MonitorText(right));
}

int TextCollator::Compare(const QString& left, const QString& right) const {
    using View = std::u16string_view;
    const View l(reinterpret_cast<const char16_t*>(left.utf16()), static_cast<size_t>(left.size()));
    const View r(reinterpret_cast<const char16_t*>(right.utf16()),
                 static_cast<size_t>(right.size()));
    return CompareWithNumbers(l, r, [this](View lWord, View rWord) {
        return m_Collator.compare(QStringView(lWord.data(), static_cast<qsizetype>(lWord.size())),
                                  QStringView(rWord.data(), static_cast<qsizetype>(rWord.size())));
    });
}
