#include "gui/options/SpinButton.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* MakeArrow(Qt::ArrowType arrow, const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);  // the field keeps the focus, as with a spin box
    button->setAccessibleName(name);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setFixedWidth(16);
    return button;
}

}  // namespace

SpinButton::SpinButton(QLineEdit* buddy, QWidget* parent)
    : QWidget(parent),
      m_pBuddy(buddy),
      m_pUp(MakeArrow(Qt::UpArrow, QStringLiteral("Up"), this)),
      m_pDown(MakeArrow(Qt::DownArrow, QStringLiteral("Down"), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pUp);
    layout->addWidget(m_pDown);
    setFixedHeight(buddy->sizeHint().height());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_pUp, &QToolButton::clicked, this, [this] { emit stepped(1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { emit stepped(-1); });
    buddy->installEventFilter(this);
}

bool SpinButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pBuddy && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            emit stepped(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
