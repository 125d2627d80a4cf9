#include "gui/options/LineStyleListBox.h"

#include <QPainter>
#include <QStyledItemDelegate>

#include "gui/toolkit/ColorWell.h"

namespace {

// Draws each item itself: the item's position, not its data, decides its style.
class LineStyleDelegate : public QStyledItemDelegate {
public:
    explicit LineStyleDelegate(LineStyleListBox* list) : QStyledItemDelegate(list), m_pList(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), LineStyleListBox::ItemHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect rect = option.rect;
        const QColor sample = ColorWell::ToQColor(m_pList->SampleColor());
        painter->save();
        painter->fillRect(rect, Qt::white);
        const int y = rect.top() + rect.height() / 2;
        QPen pen = LineStyleListBox::PenForStyle(index.row(), sample);
        pen.setCapStyle(Qt::FlatCap);
        painter->setPen(pen);
        painter->drawLine(rect.left(), y, rect.right(), y);
        if (option.state & QStyle::State_Selected) {
            painter->setPen(QPen(sample, 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(rect.adjusted(0, 0, -1, -1));
        }
        painter->restore();
    }

private:
    LineStyleListBox* m_pList;
};

}  // namespace

LineStyleListBox::LineStyleListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new LineStyleDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(QStringLiteral("Line style"));
}

void LineStyleListBox::AddStyleItems() {
    static const char* const names[StyleCount] = {"Solid",         "Dashed",       "Dotted",
                                                  "Dash-dot",      "Dash-dot-dot", "Solid, width 4",
                                                  "Solid, width 8"};
    for (const char* name : names) {
        auto* item = new QListWidgetItem(this);
        // No text is drawn; screen readers and tooltips still name the style.
        item->setData(Qt::AccessibleTextRole, QString::fromLatin1(name));
        item->setToolTip(QString::fromLatin1(name));
    }
}

void LineStyleListBox::SetSampleColor(uint32_t color) {
    m_SampleColor = color;
    viewport()->update();
}

QPen LineStyleListBox::PenForStyle(int style, const QColor& color) {
    switch (style) {
        case 1:
            return QPen(color, 1, Qt::DashLine);
        case 2:
            return QPen(color, 1, Qt::DotLine);
        case 3:
            return QPen(color, 1, Qt::DashDotLine);
        case 4:
            return QPen(color, 1, Qt::DashDotDotLine);
        case 5:
            return QPen(color, 4, Qt::SolidLine);
        case 6:
            return QPen(color, 8, Qt::SolidLine);
        default:
            return QPen(color, 1, Qt::SolidLine);
    }
}

QSize LineStyleListBox::sizeHint() const {
    // Every sample at once: the list is short, and a scrolled one hides the choices.
    return QSize(100, 2 * frameWidth() + StyleCount * ItemHeight);
}
