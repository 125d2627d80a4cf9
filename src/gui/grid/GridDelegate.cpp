#include "gui/grid/GridDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>
#include <QWidget>
#include <algorithm>

namespace {

quint64 CellKey(const QModelIndex& index) {
    return (static_cast<quint64>(static_cast<quint32>(index.row())) << 32) |
           static_cast<quint32>(index.column());
}

Qt::Alignment AlignmentOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<Qt::Alignment>()) {
        return value.value<Qt::Alignment>();
    }
    return Qt::Alignment(value.toInt());
}

// One line laid out across the text area as the style lays out a cell's
// text; returns the width the text needs.
qreal LayOut(QTextLayout& layout, int width) {
    layout.beginLayout();
    QTextLine line = layout.createLine();
    qreal needed = 0;
    if (line.isValid()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
        needed = line.naturalTextWidth();
    }
    layout.endLayout();
    return needed;
}

// The colour the style writes a cell's text in.
QColor TextColor(const QStyleOptionViewItem& option) {
    QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(option.state & QStyle::State_Active)) {
        group = QPalette::Inactive;
    }
    return option.palette.color(
        group, option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text);
}

}  // namespace

GridDelegate::GridDelegate(QObject* parent, int capacity)
    : QStyledItemDelegate(parent), m_nCapacity(std::max(capacity, 1)) {}

// The grid's model answers only for the text and its alignment, so only
// those are asked for; a full initStyleOption would ask for every role.
void GridDelegate::InitOption(QStyleOptionViewItem& option, const QModelIndex& index) const {
    option.index = index;
    option.text = displayText(index.data(Qt::DisplayRole), option.locale);
    option.features |= QStyleOptionViewItem::HasDisplay;
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    if (alignment.isValid()) option.displayAlignment = AlignmentOf(alignment);
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    InitOption(cell, index);
    const QWidget* widget = cell.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const bool byStyle = (cell.state & (QStyle::State_HasFocus | QStyle::State_Editing)) ||
                         (cell.features & QStyleOptionViewItem::WrapText);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const PreparedText* prepared = byStyle ? nullptr : &Prepared(cell, margin);
    if (!prepared || prepared->m_bByStyle) {
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        return;
    }

    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, widget);
    if (prepared->m_Glyphs.isEmpty()) return;
    const QPen pen = painter->pen();
    painter->setPen(TextColor(cell));
    if (prepared->m_bClip) {
        painter->save();
        painter->setClipRect(cell.rect, Qt::IntersectClip);
    }
    const QPointF origin = QPointF(cell.rect.topLeft()) + prepared->m_Origin;
    for (const QGlyphRun& run : prepared->m_Glyphs) painter->drawGlyphRun(origin, run);
    if (prepared->m_bClip) painter->restore();
    painter->setPen(pen);
}

bool GridDelegate::PreparedText::Matches(const QStyleOptionViewItem& option, int margin) const {
    return m_Size == option.rect.size() && m_Margin == margin &&
           m_Alignment == option.displayAlignment && m_ElideMode == option.textElideMode &&
           m_Direction == option.direction && m_Text == option.text && m_Font == option.font;
}

const GridDelegate::PreparedText& GridDelegate::Prepared(const QStyleOptionViewItem& option,
                                                         int margin) const {
    const quint64 key = CellKey(option.index);
    auto found = m_Cells.find(key);
    if (found != m_Cells.end() && found->Matches(option, margin)) return *found;
    if (found == m_Cells.end()) {
        if (m_Cells.size() >= m_nCapacity) m_Cells.clear();
        found = m_Cells.insert(key, PreparedText());
    }
    Prepare(*found, option, margin);
    return *found;
}

// Lays the text out as the style does: one line across the cell less a
// margin on either side, aligned in it, centred or placed vertically as the
// alignment says, and elided when it is wider than the cell.
void GridDelegate::Prepare(PreparedText& prepared, const QStyleOptionViewItem& option, int margin) {
    prepared.m_Text = option.text;
    prepared.m_Font = option.font;
    prepared.m_Size = option.rect.size();
    prepared.m_Alignment = option.displayAlignment;
    prepared.m_ElideMode = option.textElideMode;
    prepared.m_Direction = option.direction;
    prepared.m_Margin = margin;
    prepared.m_Glyphs.clear();
    prepared.m_bClip = false;

    const QRect area = QRect(QPoint(0, 0), prepared.m_Size).adjusted(margin, 0, -margin, 0);
    const QString& text = prepared.m_Text;
    prepared.m_bByStyle = area.width() <= 0 || text.contains(QLatin1Char('\n')) ||
                          text.contains(QChar::LineSeparator);
    if (prepared.m_bByStyle || text.isEmpty()) return;

    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, option.displayAlignment));

    QTextLayout full(text, option.font);
    full.setTextOption(textOption);
    const qreal needed = LayOut(full, area.width());
    const QRect placed = QStyle::alignedRect(Qt::LayoutDirectionAuto,
                                             option.displayAlignment & Qt::AlignVertical_Mask,
                                             full.boundingRect().size().toSize(), area);
    prepared.m_Origin = QPointF(area.x(), placed.top());
    if (needed <= area.width()) {
        prepared.m_Glyphs = full.glyphRuns();
        prepared.m_bClip = placed.top() < 0 || placed.bottom() >= prepared.m_Size.height();
        return;
    }
    const QString elided =
        QFontMetrics(option.font).elidedText(text, option.textElideMode, area.width());
    QTextLayout shortened(elided, option.font);
    shortened.setTextOption(textOption);
    prepared.m_bClip = LayOut(shortened, area.width()) > area.width() || placed.top() < 0 ||
                       placed.bottom() >= prepared.m_Size.height();
    prepared.m_Glyphs = shortened.glyphRuns();
}
