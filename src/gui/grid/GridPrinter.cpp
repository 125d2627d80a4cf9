#include "gui/grid/GridPrinter.h"

#include <QAbstractItemModel>
#include <QPainter>
#include <QPrinter>
#include <algorithm>

namespace {

QFont PrintFont(QFont font, bool bold) {
    font.setPointSizeF(9.0);
    font.setBold(bold);
    return font;
}

}  // namespace

GridPrinter::GridPrinter(const QAbstractItemModel& model, std::vector<int> columns,
                         const QFont& font, QPrinter& printer)
    : m_Model(model),
      m_Columns(std::move(columns)),
      m_Printer(printer),
      m_TextFont(PrintFont(font, font.bold())),
      m_TitleFont(PrintFont(font, true)),
      m_TextMetrics(m_TextFont, &printer),
      m_TitleMetrics(m_TitleFont, &printer),
      m_Pad(m_TextMetrics.averageCharWidth() * 0.6),
      m_RowHeight(m_TextMetrics.height() * 1.4),
      m_TitleHeight(m_TitleMetrics.height() * 1.6) {}

void GridPrinter::Print(QPainter& painter) {
    if (m_Columns.empty()) return;
    MeasureColumns();
    FitToPage();
    painter.save();
    painter.scale(m_Scale, m_Scale);
    const int rows = m_Model.rowCount();
    const int rowsPerPage =
        std::max(1, static_cast<int>((m_Area.height() - m_TitleHeight) / m_RowHeight));
    const int pages = std::max(1, (rows + rowsPerPage - 1) / rowsPerPage);
    for (int pageIndex = 0; pageIndex < pages; ++pageIndex) {
        if (pageIndex > 0) m_Printer.newPage();
        const int first = pageIndex * rowsPerPage;
        PrintPage(painter, first, std::min(rows, first + rowsPerPage));
    }
    painter.restore();
}

void GridPrinter::MeasureColumns() {
    const int rows = m_Model.rowCount();
    for (int column : m_Columns) {
        qreal width =
            m_TitleMetrics.horizontalAdvance(m_Model.headerData(column, Qt::Horizontal).toString());
        for (int row = 0; row < rows; ++row) {
            width = std::max(width, m_TextMetrics.horizontalAdvance(
                                        m_Model.data(m_Model.index(row, column)).toString()));
        }
        m_Widths.push_back(width + 2 * m_Pad);
        m_Total += m_Widths.back();
    }
}

void GridPrinter::FitToPage() {
    const QRectF page = m_Printer.pageLayout().paintRectPixels(m_Printer.resolution());
    m_Scale = std::clamp(page.width() / m_Total, 0.5, 1.0);
    m_Area = page.size() / m_Scale;
    if (m_Total > m_Area.width()) {
        for (qreal& width : m_Widths) width *= m_Area.width() / m_Total;
        m_Total = m_Area.width();
    }
}

void GridPrinter::PrintPage(QPainter& painter, int first, int last) const {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xE0, 0xE0, 0xE0));
    painter.drawRect(QRectF(0, 0, m_Total, m_TitleHeight));
    painter.setBrush(Qt::NoBrush);
    qreal x = 0;
    for (size_t i = 0; i < m_Columns.size(); ++i) {
        PrintColumn(painter, i, x, first, last);
        x += m_Widths[i];
    }
    DrawGridLines(painter, last - first);
}

void GridPrinter::PrintColumn(QPainter& painter, size_t i, qreal x, int first, int last) const {
    const QRectF cell(x + m_Pad, 0, m_Widths[i] - 2 * m_Pad, m_TitleHeight);
    painter.setPen(Qt::black);
    painter.setFont(m_TitleFont);
    painter.drawText(
        cell, Qt::AlignCenter,
        m_TitleMetrics.elidedText(m_Model.headerData(m_Columns[i], Qt::Horizontal).toString(),
                                  Qt::ElideRight, cell.width()));
    painter.setFont(m_TextFont);
    for (int row = first; row < last; ++row) {
        const QModelIndex index = m_Model.index(row, m_Columns[i]);
        const QRectF text(x + m_Pad, m_TitleHeight + (row - first) * m_RowHeight,
                          m_Widths[i] - 2 * m_Pad, m_RowHeight);
        const auto align = Qt::Alignment(m_Model.data(index, Qt::TextAlignmentRole).toInt());
        painter.drawText(
            text, align,
            m_TextMetrics.elidedText(m_Model.data(index).toString(), Qt::ElideRight, text.width()));
    }
}

// Grid lines round every cell of the page.
void GridPrinter::DrawGridLines(QPainter& painter, int rows) const {
    const qreal bottom = m_TitleHeight + rows * m_RowHeight;
    painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 0));
    qreal x = 0;
    painter.drawLine(QPointF(0, 0), QPointF(0, bottom));
    for (qreal width : m_Widths) {
        x += width;
        painter.drawLine(QPointF(x, 0), QPointF(x, bottom));
    }
    painter.drawLine(QPointF(0, 0), QPointF(m_Total, 0));
    for (int line = 0; line <= rows; ++line) {
        const qreal y = m_TitleHeight + line * m_RowHeight;
        painter.drawLine(QPointF(0, y), QPointF(m_Total, y));
    }
}
