#pragma once
// How the grids order texts from the monitor: numbers within them by value
// in every locale (see core/view/TextOrder.h). ASCII texts take the core's
// fast order; a text beyond ASCII is decoded as the grid shows it and its
// words (the parts between the numbers) go by the system's collation, case
// aside, while its numbers still compare by value: the collation alone
// leaves them as text in the C locale (10.0.0.10 before 10.0.0.9).

#include <QCollator>
#include <QString>
#include <string>

class TextCollator {
public:
    TextCollator();

    // Negative, 0 or positive. Texts beyond ASCII are compared as decoded.
    int Compare(const std::string& left, const std::string& right) const;
    // Two decoded texts. One sort compares all its texts in one of the two
    // ways: by the bytes when all are ASCII, else all decoded.
    int Compare(const QString& left, const QString& right) const;

private:
    QCollator m_Collator;
};
