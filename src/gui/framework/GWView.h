#pragma once
// A view of a document. Views are Qt widgets of their own kind (a table, a
// graph), so this is a base that such a widget class adds: it ties the widget
// to its document, receives the document's updates and prints.

#include <QtGlobal>
#include <cstdint>

#include "gui/framework/CmdTarget.h"

class GWDocument;
class QObject;
class QPainter;
class QPrinter;
class QWidget;

class GWView : public GWCmdTarget {
public:
    GWView();
    ~GWView() override;  // leaves its document
    GWView(const GWView&) = delete;
    GWView& operator=(const GWView&) = delete;

    GWDocument* GetDocument() const { return m_pDocument; }
    virtual QWidget* GetWidget() = 0;

    // Called once when the view is first shown with its document. The
    // framework's own first update calls OnUpdate once with no arguments.
    virtual void OnInitialUpdate();
    // Called for every UpdateAllViews of the document.
    virtual void OnUpdate(GWView* sender, intptr_t hint, QObject* hintObject);

    // Printing, in this order: OnPreparePrinting (false cancels), then
    // OnBeginPrinting, OnPrint for the whole job (it starts new pages itself),
    // OnEndPrinting. The default OnPrint draws the widget scaled onto one page.
    virtual bool OnPreparePrinting(QPrinter& printer);
    virtual void OnBeginPrinting(QPrinter& printer);
    virtual void OnPrint(QPainter& painter, QPrinter& printer);
    virtual void OnEndPrinting(QPrinter& printer);

private:
    friend class GWDocument;
    GWDocument* m_pDocument = nullptr;
};
