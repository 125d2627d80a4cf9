#include "gui/toolkit/PaneSplitter.h"

#include <QKeyEvent>
#include <QSplitterHandle>

PaneSplitter::PaneSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {}

int PaneSplitter::DividerPosition() const {
    const QList<int> paneSizes = sizes();
    return paneSizes.isEmpty() ? 0 : paneSizes.first();
}

void PaneSplitter::BeginKeyboardSplit() {
    if (count() < 2 || m_bTracking) return;
    QSplitterHandle* divider = handle(1);
    m_SizesBefore = sizes();
    m_bTracking = true;
    divider->installEventFilter(this);
    divider->setFocusPolicy(Qt::StrongFocus);
    MarkHandle(true);
    divider->setFocus(Qt::OtherFocusReason);
}

bool PaneSplitter::eventFilter(QObject* watched, QEvent* event) {
    if (!m_bTracking || count() < 2 || watched != handle(1)) {
        return QSplitter::eventFilter(watched, event);
    }
    if (event->type() == QEvent::FocusOut) {
        EndKeyboardSplit(true);
        return false;
    }
    if (event->type() != QEvent::KeyPress) return QSplitter::eventFilter(watched, event);
    const bool vertical = orientation() == Qt::Vertical;
    switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
            if (vertical) MoveDivider(-KeyStep);
            return true;
        case Qt::Key_Down:
            if (vertical) MoveDivider(KeyStep);
            return true;
        case Qt::Key_Left:
            if (!vertical) MoveDivider(-KeyStep);
            return true;
        case Qt::Key_Right:
            if (!vertical) MoveDivider(KeyStep);
            return true;
        case Qt::Key_PageUp:
            MoveDivider(-PageStep);
            return true;
        case Qt::Key_PageDown:
            MoveDivider(PageStep);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            EndKeyboardSplit(true);
            return true;
        case Qt::Key_Escape:
            EndKeyboardSplit(false);
            return true;
        default:
            return true;  // the divider takes every key while it moves
    }
}

void PaneSplitter::MoveDivider(int delta) {
    // moveSplitter keeps both panes at or above their minimum sizes.
    moveSplitter(DividerPosition() + delta, 1);
}

void PaneSplitter::EndKeyboardSplit(bool keep) {
    if (!m_bTracking) return;
    m_bTracking = false;
    QSplitterHandle* divider = handle(1);
    divider->removeEventFilter(this);
    divider->setFocusPolicy(Qt::NoFocus);
    MarkHandle(false);
    if (!keep) setSizes(m_SizesBefore);
    emit keyboardSplitEnded(keep);
}

void PaneSplitter::MarkHandle(bool on) {
    QSplitterHandle* divider = handle(1);
    if (on) {
        QPalette marked = divider->palette();
        marked.setColor(QPalette::Window, marked.color(QPalette::Highlight));
        divider->setPalette(marked);
        divider->setAutoFillBackground(true);
    } else {
        divider->setPalette(QPalette());
        divider->setAutoFillBackground(false);
    }
    divider->update();
}
