#pragma once
// Paints the grid's cells as the style's own item painting does, but keeps
// each cell's text shaped and laid out from one paint to the next: a poll
// repaints every row, and shaping every text anew was most of the cost of a
// repaint. A cell's prepared text is made again when its text, font, size,
// alignment or elision mode changes. The cache is bounded; when full it is
// emptied and refills with the cells that are painted.
//
// The background is drawn through the style, so selection looks as it does
// elsewhere. The cell with the focus frame, and texts that need more than
// one line, are left to the style entirely; they are rare and cheap.

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStyledItemDelegate>

class GridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Enough for every cell of a grid that fills a large screen.
    static constexpr int DefaultCapacity = 2048;

    explicit GridDelegate(QObject* parent = nullptr, int capacity = DefaultCapacity);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Cells whose prepared text is kept now; never more than the capacity.
    int CachedCells() const { return static_cast<int>(m_Cells.size()); }

private:
    struct PreparedText {
        // What the text was prepared for.
        QString m_Text;
        QFont m_Font;
        QSize m_Size;
        Qt::Alignment m_Alignment;
        Qt::TextElideMode m_ElideMode = Qt::ElideRight;
        Qt::LayoutDirection m_Direction = Qt::LeftToRight;
        int m_Margin = 0;
        // The result: glyphs placed relative to m_Origin, which is relative
        // to the cell's top left corner.
        QList<QGlyphRun> m_Glyphs;
        QPointF m_Origin;
        bool m_bClip = false;     // the text does not fit the cell even elided
        bool m_bByStyle = false;  // the style paints this cell on its own

        bool Matches(const QStyleOptionViewItem& option, int margin) const;
    };

    void InitOption(QStyleOptionViewItem& option, const QModelIndex& index) const;
    const PreparedText& Prepared(const QStyleOptionViewItem& option, int margin) const;
    static void Prepare(PreparedText& prepared, const QStyleOptionViewItem& option, int margin);

    mutable QHash<quint64, PreparedText> m_Cells;  // by row and column
    int m_nCapacity;
};
