#include "gui/options/CheckListBox.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>

namespace {

constexpr int LineDisabledRole = Qt::UserRole + 1;

class CheckLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(LineDisabledRole).toBool()) option->state &= ~QStyle::State_Enabled;
    }
};

}  // namespace

CheckListBox::CheckListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new CheckLineDelegate(this));
}

void CheckListBox::EnableLine(QListWidgetItem* line, bool enable) {
    if (IsLineEnabled(line) == enable) return;
    line->setData(LineDisabledRole, enable ? QVariant() : QVariant(true));
    line->setFlags(enable ? line->flags() | Qt::ItemIsUserCheckable
                          : line->flags() & ~Qt::ItemIsUserCheckable);
}

bool CheckListBox::IsLineEnabled(const QListWidgetItem* line) {
    return !line->data(LineDisabledRole).toBool();
}

QRect CheckListBox::CheckRect(int row) const {
    const QListWidgetItem* line = item(row);
    if (!line) return QRect();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualItemRect(line);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = line->checkState();
    option.text = line->text();
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

bool CheckListBox::ToggleAt(const QPoint& point) {
    QListWidgetItem* line = itemAt(point);
    if (!line || !IsLineEnabled(line) || !(line->flags() & Qt::ItemIsUserCheckable)) return false;
    const int lineRow = row(line);
    if (!CheckRect(lineRow).contains(point)) return false;
    setFocus(Qt::MouseFocusReason);
    line->setCheckState(line->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    setCurrentRow(lineRow, QItemSelectionModel::ClearAndSelect);
    return true;
}

// Every press decides afresh whether its release is ours, so a release
// that never came cannot swallow a later one.
void CheckListBox::mousePressEvent(QMouseEvent* event) {
    m_bToggledOnPress = event->button() == Qt::LeftButton && ToggleAt(event->position().toPoint());
    if (m_bToggledOnPress) {
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void CheckListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    m_bToggledOnPress = event->button() == Qt::LeftButton && ToggleAt(event->position().toPoint());
    if (m_bToggledOnPress) {
        event->accept();
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
}

// The view never saw the press that toggled, so it still remembers the line
// pressed before; were it given the release over that same line's box, it
// would count a click and toggle the box back.
void CheckListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bToggledOnPress && event->button() == Qt::LeftButton) {
        m_bToggledOnPress = false;
        event->accept();
        return;
    }
    QListWidget::mouseReleaseEvent(event);
}
