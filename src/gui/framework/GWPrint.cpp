#include "gui/framework/GWPrint.h"

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "gui/framework/Dialogs.h"
#include "gui/framework/GWApp.h"
#include "gui/framework/GWView.h"

namespace {

QPrinter& PrinterFor() {
    static QPrinter fallback(QPrinter::HighResolution);
    GWApp* app = GWApp::Get();
    return app ? app->GetPrinter() : fallback;
}

}  // namespace

bool GWPrintViewTo(GWView& view, QPrinter& printer) {
    if (!view.OnPreparePrinting(printer)) return false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        GWMessageBox(QStringLiteral("The printer could not be started."));
        return false;
    }
    view.OnBeginPrinting(printer);
    view.OnPrint(painter, printer);
    view.OnEndPrinting(printer);
    painter.end();
    return true;
}

bool GWPrintView(GWView& view, QWidget* parent) {
    QPrinter& printer = PrinterFor();
    QPrintDialog dialog(&printer, parent);
    if (GWExecDialog(dialog) != QDialog::Accepted) return false;
    return GWPrintViewTo(view, printer);
}

void GWPrintPreview(GWView& view, QWidget* parent) {
    QPrintPreviewDialog dialog(&PrinterFor(), parent);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested,
                     [&view](QPrinter* printer) { GWPrintViewTo(view, *printer); });
    GWExecDialog(dialog);
}
