#include "gui/framework/GWView.h"

#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QWidget>

#include "gui/framework/CommandIds.h"
#include "gui/framework/GWDocument.h"
#include "gui/framework/GWPrint.h"

GWView::GWView() {
    OnCommand(cmd::FilePrint, [this] { GWPrintView(*this, GetWidget()); });
    OnCommand(cmd::FilePrintPreview, [this] { GWPrintPreview(*this, GetWidget()); });
}

GWView::~GWView() {
    if (m_pDocument) m_pDocument->RemoveView(this);
}

void GWView::OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }

void GWView::OnUpdate(GWView*, intptr_t, QObject*) {
    if (QWidget* widget = GetWidget()) widget->update();
}

bool GWView::OnPreparePrinting(QPrinter&) { return true; }

void GWView::OnBeginPrinting(QPrinter&) {}

void GWView::OnPrint(QPainter& painter, QPrinter& printer) {
    QWidget* widget = GetWidget();
    if (!widget) return;
    const QPixmap picture = widget->grab();
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    QSizeF size = picture.size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    painter.drawPixmap(QRectF(QPointF(0, 0), size), picture, QRectF(picture.rect()));
}

void GWView::OnEndPrinting(QPrinter&) {}
