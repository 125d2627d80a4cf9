#pragma once
// Prints the rows of a grid's model, its shown columns only, page after page
// with the column titles on each: every column as wide as its widest text, a
// grid wider than the page printed smaller down to half size, what is still
// too wide narrowed alike with its texts shortened.

#include <QFont>
#include <QFontMetricsF>
#include <QSizeF>
#include <vector>

class QAbstractItemModel;
class QPainter;
class QPrinter;

class GridPrinter {
public:
    GridPrinter(const QAbstractItemModel& model, std::vector<int> columns, const QFont& font,
                QPrinter& printer);
    void Print(QPainter& painter);

private:
    void MeasureColumns();
    void FitToPage();  // sets m_Scale and narrows the columns that still do not fit
    void PrintPage(QPainter& painter, int first, int last) const;
    void PrintColumn(QPainter& painter, size_t i, qreal x, int first, int last) const;
    void DrawGridLines(QPainter& painter, int rows) const;

    const QAbstractItemModel& m_Model;
    const std::vector<int> m_Columns;
    QPrinter& m_Printer;
    QFont m_TextFont;
    QFont m_TitleFont;
    QFontMetricsF m_TextMetrics;
    QFontMetricsF m_TitleMetrics;
    qreal m_Pad = 0;
    std::vector<qreal> m_Widths;
    qreal m_Total = 0;
    qreal m_Scale = 1;
    QSizeF m_Area;  // the page in the scaled painter's units
    qreal m_RowHeight = 0;
    qreal m_TitleHeight = 0;
};
