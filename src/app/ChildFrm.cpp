#include "app/ChildFrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/framework/CommandIds.h"
#include "gui/framework/GWApp.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "gui/toolkit/PaneSplitter.h"
#include "gui/toolkit/Workbook.h"

namespace {

std::vector<CChildFrame*>& AllFrames() {
    static std::vector<CChildFrame*> frames;
    return frames;
}

}  // namespace

CChildFrame::CChildFrame(CVGLDoc* document, QWidget* parent)
    : Worksheet(ResourceId, parent), m_pDocument(document) {
    setAttribute(Qt::WA_DeleteOnClose);
    AllFrames().push_back(this);

    OnCommand(cmd::WindowSplit, [this] { m_pSplitter->BeginKeyboardSplit(); });
    OnCommand(cmd::NextPane, [this] { MovePaneFocus(true); });
    OnCommand(cmd::PrevPane, [this] { MovePaneFocus(false); });
    // Exporting reads what is on show and changes nothing, so it is offered
    // while the session is being watched as well.
    OnCommand(cmd::Export, [this] {
        if (m_pPane) m_pPane->OnExport();
    });

    if (m_pDocument) {
        connect(m_pDocument, &GWDocument::aboutToClose, this, &CChildFrame::OnDocumentClosing);
        connect(m_pDocument, &GWDocument::titleChanged, this,
                [this] { UpdateCaptions(m_pDocument); });
        connect(m_pDocument, &CVGLDoc::statusChanged, this, &CChildFrame::ShowStatus);
    }
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
}

CChildFrame::~CChildFrame() {
    // The panes go with the window after this; focus moves as they do.
    disconnect(qApp, nullptr, this, nullptr);
    LeaveDocument();
    std::erase(AllFrames(), this);
}

bool CChildFrame::Create(GWDocument* document) {
    auto* session = dynamic_cast<CVGLDoc*>(document);
    GWApp* app = GWApp::Get();
    auto* workbook = app ? dynamic_cast<Workbook*>(app->GetMainFrame()) : nullptr;
    if (!session || !workbook) return false;
    auto* frame = new CChildFrame(session);
    if (!frame->OnCreateClient()) {
        delete frame;
        return false;
    }
    // Captioned before it shows: a maximised frame puts its caption into the
    // main window's as it appears.
    UpdateCaptions(session);
    frame->RegisterWith(*workbook);
    frame->showMaximized();
    workbook->ActivateWorksheet(frame);
    frame->OnInitialUpdate();
    return true;
}

// The graph pane below, then the grid above it, each half of the height.
bool CChildFrame::OnCreateClient() {
    if (!m_pDocument) return false;
    m_pSplitter = new PaneSplitter(Qt::Vertical);
    m_pSplitter->setChildrenCollapsible(false);
    m_pGraph = new GraphView;
    m_pGrid = new GridView;
    m_pPane = new ConnectionPane(m_pGrid);
    m_pPane->SetDocument(m_pDocument);
    m_pSplitter->addWidget(m_pPane);
    m_pSplitter->addWidget(m_pGraph);
    for (int row = 0; row < 2; ++row) {
        m_pSplitter->widget(row)->setMinimumHeight(MinimumPaneHeight);
        m_pSplitter->setStretchFactor(row, 1);
    }
    // Equal weights: whatever height the frame gets is shared half and half.
    m_pSplitter->setSizes({1, 1});
    m_pStatusLine = new QLabel;
    m_pStatusLine->setObjectName(QStringLiteral("sessionStatus"));
    m_pStatusLine->setContentsMargins(4, 1, 4, 1);
    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pSplitter, 1);
    layout->addWidget(m_pStatusLine);
    setWidget(client);
    ShowStatus();
    connect(m_pSplitter, &PaneSplitter::keyboardSplitEnded, this,
            [this] { SetActiveView(m_pActiveView); });
    // Tab goes from the filter line to the grid (or the groups in its place)
    // to the graph; the arrow keys move inside the grids.
    m_pGrid->setTabKeyNavigation(false);
    m_pPane->GroupView()->setTabKeyNavigation(false);
    setTabOrder(m_pPane->FilterEdit(), m_pGrid);
    setTabOrder(m_pGrid, m_pPane->GroupView());
    setTabOrder(m_pPane->GroupView(), m_pGraph->GetGraph());
    auto* find = new QShortcut(QKeySequence::Find, this, [this] { m_pPane->FocusFilter(); });
    find->setContext(Qt::WidgetWithChildrenShortcut);

    m_pDocument->AddView(m_pGraph);
    m_pDocument->AddView(m_pGrid);
    m_pActiveView = m_pGrid;
    return true;
}

// The busy cursor covers this session's panes only; the rest of the program
// keeps its own.
void CChildFrame::ShowStatus() {
    if (!m_pDocument || !m_pStatusLine) return;
    m_pStatusLine->setText(m_pDocument->StatusText());
    if (m_pDocument->IsBusy()) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void CChildFrame::OnInitialUpdate() {
    m_pGraph->OnInitialUpdate();
    m_pGrid->OnInitialUpdate();
    SetActiveView(m_pGrid);
    if (m_pDocument) m_pDocument->OnViewsReady();
}

std::vector<CChildFrame*> CChildFrame::FramesOf(const GWDocument* document) {
    std::vector<CChildFrame*> frames;
    for (CChildFrame* frame : AllFrames()) {
        if (!frame->m_bClosed && document && frame->m_pDocument == document) {
            frames.push_back(frame);
        }
    }
    return frames;
}

void CChildFrame::SetActiveView(GWView* view) {
    if (view != m_pGrid && view != m_pGraph) return;
    m_pActiveView = view;
    // A grouped session shows its groups where the grid was.
    QWidget* widget = view == m_pGrid && m_pPane ? m_pPane->ShownGrid() : view->GetWidget();
    if (widget) widget->setFocus(Qt::OtherFocusReason);
}

void CChildFrame::OnFocusChanged(QWidget* now) {
    if (!now || !m_pGrid || !m_pPane || !m_pGraph) return;
    if (now == m_pPane || m_pPane->isAncestorOf(now)) {
        m_pActiveView = m_pGrid;
    } else if (now == m_pGraph || m_pGraph->isAncestorOf(now)) {
        m_pActiveView = m_pGraph;
    }
}

void CChildFrame::MovePaneFocus(bool) {
    // With two panes the next and the previous pane are the same one.
    SetActiveView(m_pActiveView == m_pGrid ? static_cast<GWView*>(m_pGraph) : m_pGrid);
}

// The server and the state, without the file's name: the tab names the server.
QString CChildFrame::TabLabel() const {
    if (!m_pDocument) return QString();
    return m_pDocument->SessionTitle().isEmpty() ? m_pDocument->GetTitle()
                                                 : m_pDocument->SessionTitle();
}

QString CChildFrame::TabToolTip() const {
    if (!m_pDocument) return QString();
    const QString link = m_pDocument->LinkDescription();
    return link.isEmpty() ? TabLabel() : TabLabel() + QStringLiteral("\n") + link;
}

// Several windows of one document are told apart by a number after the
// title ("VGL1:1", "VGL1:2"); their tabs show the title alone.
void CChildFrame::UpdateCaptions(const GWDocument* document) {
    if (!document) return;
    const std::vector<CChildFrame*> frames = FramesOf(document);
    for (size_t i = 0; i < frames.size(); ++i) {
        QString caption = document->GetTitle();
        if (frames.size() > 1) caption += QStringLiteral(":%1").arg(i + 1);
        frames[i]->setWindowTitle(caption);
        emit frames[i]->tabChanged();
    }
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    // Closing the last window of a changed session asks to save it first.
    if (!m_bDocumentClosing && m_pDocument && FramesOf(m_pDocument).size() == 1 &&
        !m_pDocument->SaveModified()) {
        event->ignore();
        return;
    }
    Worksheet::closeEvent(event);
    if (!event->isAccepted()) return;
    m_bClosed = true;
    if (!m_bDocumentClosing && m_pDocument && FramesOf(m_pDocument).empty()) {
        // The last window of a session closes the session; the document's
        // aboutToClose then finds this frame already closing.
        m_bDocumentClosing = true;
        m_pDocument->OnCloseDocument();
    }
    LeaveDocument();
    UpdateCaptions(m_pDocument);
}

void CChildFrame::OnDocumentClosing() {
    if (m_bDocumentClosing) return;
    m_bDocumentClosing = true;
    close();
}

void CChildFrame::LeaveDocument() {
    if (!m_pDocument) return;
    if (m_pGrid) m_pDocument->RemoveView(m_pGrid);
    if (m_pGraph) m_pDocument->RemoveView(m_pGraph);
}
