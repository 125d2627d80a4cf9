#include "gui/toolkit/Worksheet.h"

#include <QEvent>
#include <QMdiArea>

#include "gui/toolkit/ResourceIcon.h"
#include "gui/toolkit/Workbook.h"

Worksheet::Worksheet(int resourceId, QWidget* parent)
    : QMdiSubWindow(parent), m_nResourceId(resourceId), m_TabIcon(ResourceIcon(resourceId)) {
    setWindowIcon(m_TabIcon);
}

Worksheet::~Worksheet() = default;

QString Worksheet::TabLabel() const {
    return windowTitle();
}

QSize Worksheet::sizeHint() const {
    const QSize own = QMdiSubWindow::sizeHint();
    if (!mdiArea()) return own;
    const QSize area = mdiArea()->viewport()->size();
    return QSize(area.width() * 3 / 4, area.height() * 3 / 4).expandedTo(minimumSizeHint());
}

void Worksheet::RegisterWith(Workbook& workbook) {
    m_pWorkbook = &workbook;
    workbook.AddWorksheet(this);
}

bool Worksheet::event(QEvent* event) {
    const bool result = QMdiSubWindow::event(event);
    switch (event->type()) {
        case QEvent::WindowTitleChange:
        case QEvent::WindowIconChange:
        case QEvent::Hide:
        case QEvent::Show:
            emit tabChanged();
            break;
        default:
            break;
    }
    return result;
}
