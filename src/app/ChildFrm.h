#pragma once
// The frame of one session window: the connection grid (with its filter
// line and totals) above the traffic graph in a two-row splitter, each pane half of the height and
// never less than 100 pixels, and below them the session's status line; while the session's connect
// or poll is in flight the frame shows the busy cursor. It opens maximised with the grid focused
// and active, and shows as a tab of the main window. Closing a session's last frame closes the
// session.

#include <QPointer>
#include <QString>
#include <vector>

#include "gui/framework/GWFrame.h"
#include "gui/session/CVGLDoc.h"
#include "gui/toolkit/Worksheet.h"

class ConnectionPane;
class GWDocument;
class GraphView;
class GridView;
class PaneSplitter;
class QLabel;

class CChildFrame : public Worksheet, public GWFrame {
    Q_OBJECT
public:
    static constexpr int ResourceId = 129;
    static constexpr int MinimumPaneHeight = 100;

    explicit CChildFrame(CVGLDoc* document, QWidget* parent = nullptr);
    ~CChildFrame() override;

    // The document template's frame factory: builds a frame with its views
    // for the document inside the main window and shows it.
    static bool Create(GWDocument* document);
    // The open frames of a document, in the order they were made.
    static std::vector<CChildFrame*> FramesOf(const GWDocument* document);

    GWView* GetActiveView() const override { return m_pActiveView; }
    void SetActiveView(GWView* view);
    CVGLDoc* GetDocument() const { return m_pDocument; }
    GridView* GetGridView() const { return m_pGrid; }
    // The grid with its filter line, grouped grid and totals.
    ConnectionPane* GetConnectionPane() const { return m_pPane; }
    GraphView* GetGraphView() const { return m_pGraph; }
    PaneSplitter* GetSplitter() const { return m_pSplitter; }
    QLabel* GetStatusLine() const { return m_pStatusLine; }

    QString TabLabel() const override;  // the document's title, without its file
    // The title and how the session is connected ("encrypted (TLS, SHA256:…)").
    QString TabToolTip() const override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool OnCreateClient();
    void OnInitialUpdate();
    void OnDocumentClosing();
    void OnFocusChanged(QWidget* now);
    void MovePaneFocus(bool next);
    void LeaveDocument();
    void ShowStatus();
    static void UpdateCaptions(const GWDocument* document);

    QPointer<CVGLDoc> m_pDocument;
    PaneSplitter* m_pSplitter = nullptr;
    QLabel* m_pStatusLine = nullptr;
    GridView* m_pGrid = nullptr;
    ConnectionPane* m_pPane = nullptr;
    GraphView* m_pGraph = nullptr;
    GWView* m_pActiveView = nullptr;
    bool m_bDocumentClosing = false;
    bool m_bClosed = false;
};
