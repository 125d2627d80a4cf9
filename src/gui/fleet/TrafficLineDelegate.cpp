#include "gui/fleet/TrafficLineDelegate.h"

#include <QPainter>
#include <QPainterPath>

#include "gui/fleet/ServersModel.h"

void TrafficLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, QModelIndex());  // the background and selection
    const QList<double> values = index.data(ServersModel::TrafficRole).value<QList<double>>();
    if (values.size() < 2) return;
    double highest = 0;
    for (double value : values) highest = std::max(highest, value);
    const QRectF area = QRectF(option.rect).adjusted(3, 3, -3, -3);
    // A few polls take part of the width, from the right, as a full line would.
    const double step = area.width() / double(std::max<qsizetype>(values.size(), 20) - 1);
    const double left = area.right() - step * double(values.size() - 1);
    QPainterPath line;
    for (int i = 0; i < values.size(); ++i) {
        const double share = highest > 0 ? values[i] / highest : 0;
        const QPointF point(left + step * i, area.bottom() - share * area.height());
        if (i == 0) {
            line.moveTo(point);
        } else {
            line.lineTo(point);
        }
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(option.state & QStyle::State_Selected
                             ? option.palette.highlightedText().color()
                             : QColor(0x1f, 0x6f, 0xb4),
                         1.5));
    painter->drawPath(line);
    painter->restore();
}

QSize TrafficLineDelegate::sizeHint(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    return QStyledItemDelegate::sizeHint(option, index).expandedTo(QSize(120, 22));
}
