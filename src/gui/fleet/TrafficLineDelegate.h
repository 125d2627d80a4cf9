#pragma once
// Paints a cell's list of values (ServersModel::TrafficRole) as a small
// line, scaled to its own highest value, the newest at the right.

#include <QStyledItemDelegate>

class TrafficLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
