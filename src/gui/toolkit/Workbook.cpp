#include "gui/toolkit/Workbook.h"

#include <QHelpEvent>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>
#include <algorithm>

#include "gui/toolkit/Worksheet.h"

// The strip below the documents' area that shows the tabs.
class WorkbookTabStrip : public QWidget {
public:
    explicit WorkbookTabStrip(Workbook& workbook, QWidget* parent)
        : QWidget(parent), m_Workbook(workbook) {}

protected:
    // Each tab has its own tip: the strip is one widget for all of them.
    bool event(QEvent* event) override {
        if (event->type() != QEvent::ToolTip) return QWidget::event(event);
        auto* help = static_cast<QHelpEvent*>(event);
        Worksheet* sheet = m_Workbook.WorksheetAtTab(help->pos());
        const QString tip = sheet ? sheet->TabToolTip() : QString();
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, this);
        }
        return true;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        m_Workbook.PaintTabs(painter);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        if (Worksheet* sheet = m_Workbook.WorksheetAtTab(event->position().toPoint())) {
            m_Workbook.ActivateWorksheet(sheet);
        }
    }

private:
    Workbook& m_Workbook;
};

// The main window's central widget: the documents' area and, in workbook
// mode, the tab strip beneath it.
class Workbook::Client : public QWidget {
public:
    explicit Client(Workbook& workbook) : m_Workbook(workbook) {}

protected:
    void resizeEvent(QResizeEvent*) override { m_Workbook.LayoutClient(); }

private:
    Workbook& m_Workbook;
};

Workbook::Workbook(QWidget* parent) : QMainWindow(parent) {
    m_pClient = new Client(*this);
    m_pClient->setAutoFillBackground(true);
    m_pMdiArea = new QMdiArea(m_pClient);
    m_pMdiArea->setViewMode(QMdiArea::SubWindowView);
    m_pMdiArea->setActivationOrder(QMdiArea::CreationOrder);
    m_pTabStrip = new WorkbookTabStrip(*this, m_pClient);
    m_pTabStrip->hide();
    setCentralWidget(m_pClient);

    m_TabFont = font();
    m_TabFont.setPixelSize(11);

    // The strip receives: while this window is destroyed its documents' area
    // (made before the strip) goes first, and the frames inside it signal as
    // they go, when only the strip is still whole.
    QWidget* strip = m_pTabStrip;
    connect(m_pMdiArea, &QMdiArea::subWindowActivated, strip, [strip] { strip->update(); });
    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, [this] { ActiveWorksheetChanged(); });
}

// Frames that go with the documents' area signal as they go, when this
// window is no longer whole.
Workbook::~Workbook() {
    m_pMdiArea->disconnect(this);
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList()) window->disconnect(this);
}

void Workbook::SetWorkbookMode(bool on) {
    m_bWorkbookMode = on;
    LayoutClient();
}

void Workbook::LayoutClient() {
    const QRect area = m_pClient->rect();
    if (!m_bWorkbookMode) {
        m_pTabStrip->hide();
        m_pMdiArea->setGeometry(area);
        return;
    }
    m_pMdiArea->setGeometry(area.adjusted(InsetLeft, InsetTop, -InsetRight, -InsetBottom));
    m_pTabStrip->setGeometry(area.left(), area.bottom() + 1 - InsetBottom, area.width(),
                             InsetBottom);
    m_pTabStrip->show();
    m_pTabStrip->update();
}

void Workbook::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    LayoutClient();
}

void Workbook::AddWorksheet(Worksheet* sheet) {
    m_pMdiArea->addSubWindow(sheet);
    QWidget* strip = m_pTabStrip;
    connect(sheet, &Worksheet::tabChanged, strip, [strip] { strip->update(); });
    connect(sheet, &QObject::destroyed, strip, [strip] { strip->update(); });
    connect(sheet, &Worksheet::tabChanged, this, [this] { ActiveWorksheetChanged(); });
    connect(sheet, &QMdiSubWindow::windowStateChanged, this, [this] { ActiveWorksheetChanged(); });
    UpdateTabs();
}

std::vector<Worksheet*> Workbook::Worksheets() const {
    std::vector<Worksheet*> sheets;
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList(QMdiArea::CreationOrder)) {
        auto* sheet = qobject_cast<Worksheet*>(window);
        if (sheet && !sheet->isHidden()) sheets.push_back(sheet);
    }
    return sheets;
}

Worksheet* Workbook::ActiveWorksheet() const {
    auto* sheet = qobject_cast<Worksheet*>(m_pMdiArea->currentSubWindow());
    return sheet && !sheet->isHidden() ? sheet : nullptr;
}

void Workbook::ActivateWorksheet(Worksheet* sheet) {
    if (!sheet) return;
    m_pMdiArea->setActiveSubWindow(sheet);
    UpdateTabs();
}

void Workbook::SetShowsTabIcons(bool on) {
    m_bTabIcons = on;
    UpdateTabs();
}

QIcon Workbook::TabIcon(const Worksheet* sheet) const {
    return m_bTabIcons && sheet ? sheet->TabIcon() : QIcon();
}

QString Workbook::TabLabel(const Worksheet* sheet) const {
    return sheet ? sheet->TabLabel() : QString();
}

QWidget* Workbook::TabStrip() const {
    return m_pTabStrip;
}

void Workbook::UpdateTabs() {
    if (m_pTabStrip) m_pTabStrip->update();
}

// Tabs overlap by their sloping sides. When they don't all fit, the row
// moves left just enough to show the active tab whole.
int Workbook::FirstTabLeft() const {
    const std::vector<Worksheet*> sheets = Worksheets();
    const auto it = std::find(sheets.begin(), sheets.end(), ActiveWorksheet());
    if (it == sheets.end()) return InsetLeft;
    const int pitch = TabWidth - TabSlant;
    const int activeRight = InsetLeft + static_cast<int>(it - sheets.begin()) * pitch + TabWidth;
    const int visibleRight = m_pTabStrip->width() - InsetRight;
    return InsetLeft + std::min(0, visibleRight - activeRight);
}

Workbook::TabGeometry Workbook::GetTabGeometry(const Worksheet* sheet) const {
    TabGeometry geometry;
    const std::vector<Worksheet*> sheets = Worksheets();
    const auto it = std::find(sheets.begin(), sheets.end(), sheet);
    if (it == sheets.end()) return geometry;
    const int left = FirstTabLeft() + static_cast<int>(it - sheets.begin()) * (TabWidth - TabSlant);
    const int height = m_nTabHeight;
    geometry.m_Polygon << QPoint(left, 0) << QPoint(left + TabWidth - 1, 0)
                       << QPoint(left + TabWidth - 1 - TabSlant, height - 1)
                       << QPoint(left + TabSlant, height - 1);
    geometry.m_LabelRect = QRect(left + TabSlant, 0, TabWidth - 2 * TabSlant, height);
    return geometry;
}

Worksheet* Workbook::WorksheetAtTab(const QPoint& point) const {
    // The active tab lies on top; the others overlap to the left, so a later
    // tab covers the one before it.
    Worksheet* active = ActiveWorksheet();
    if (active && GetTabGeometry(active).m_Polygon.containsPoint(point, Qt::OddEvenFill)) {
        return active;
    }
    const std::vector<Worksheet*> sheets = Worksheets();
    for (auto it = sheets.rbegin(); it != sheets.rend(); ++it) {
        if (GetTabGeometry(*it).m_Polygon.containsPoint(point, Qt::OddEvenFill)) return *it;
    }
    return nullptr;
}

void Workbook::PaintTabs(QPainter& painter) {
    const std::vector<Worksheet*> sheets = Worksheets();
    Worksheet* active = ActiveWorksheet();
    // The line the tabs hang from, the lower edge of the documents' area.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(InsetLeft, 0, m_pTabStrip->width() - InsetRight - 1, 0);
    for (Worksheet* sheet : sheets) {
        if (sheet != active) PaintTab(painter, sheet, false);
    }
    if (active) PaintTab(painter, active, true);
}

void Workbook::PaintTab(QPainter& painter, Worksheet* sheet, bool active) {
    const TabGeometry geometry = GetTabGeometry(sheet);
    if (geometry.m_Polygon.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(palette().color(active ? QPalette::Base : QPalette::Button));
    painter.setPen(palette().color(active ? QPalette::Shadow : QPalette::Dark));
    painter.drawPolygon(geometry.m_Polygon);
    if (active) {
        // The active tab is open towards its document.
        const QPolygon& outline = geometry.m_Polygon;
        painter.setPen(palette().color(QPalette::Base));
        painter.drawLine(outline[0] + QPoint(1, 0), outline[1] - QPoint(1, 0));
    }
    painter.setFont(m_TabFont);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setBackgroundMode(Qt::TransparentMode);
    DrawTab(painter, sheet, geometry);
    painter.restore();
}

void Workbook::DrawTab(QPainter& painter, Worksheet* sheet, const TabGeometry& geometry) {
    const QRect label = geometry.m_LabelRect;
    int iconSize = 0;
    const QIcon icon = TabIcon(sheet);
    if (!icon.isNull()) {
        iconSize = m_nTabHeight - 8;
        icon.paint(&painter, QRect(label.left(), label.top() + 4, iconSize, iconSize));
    }
    const QRect text(label.left() + iconSize + 2, label.top(), label.width() - iconSize - 4,
                     label.height());
    painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine, TabLabel(sheet));
}
