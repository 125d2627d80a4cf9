#include "gui/session/SessionTab.h"

#include "gui/framework/GWApp.h"
#include "gui/framework/GWFrame.h"
#include "gui/framework/GWView.h"
#include "gui/session/CVGLDoc.h"
#include "gui/toolkit/Workbook.h"
#include "gui/toolkit/Worksheet.h"

void ShowSessionTab(CVGLDoc* session) {
    if (!session || session->GetViews().empty()) return;
    QWidget* widget = session->GetViews().front()->GetWidget();
    Worksheet* sheet = nullptr;
    for (QObject* at = widget; at && !sheet; at = at->parent())
        sheet = qobject_cast<Worksheet*>(at);
    GWApp* app = GWApp::Get();
    auto* book = app ? dynamic_cast<Workbook*>(app->GetMainFrame()) : nullptr;
    if (!sheet || !book) return;
    book->ActivateWorksheet(sheet);
    book->show();
    book->raise();
    book->activateWindow();
}
