// A session window: maximised, the grid (in its pane with the filter line and
// the totals) above the graph in halves that never
// get below 100 pixels, the grid focused; the divider moved by keyboard and
// the focus moved between the panes.

#include <QSplitterHandle>
#include <QTest>

#include "app/FramesFixture.h"
#include "gui/framework/CommandIds.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridView.h"
#include "gui/toolkit/PaneSplitter.h"

class ChildFrameTest : public FramesTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(Start());
        m_pFrame = ActiveFrame();
        ASSERT_NE(m_pFrame, nullptr);
        QApplication::setActiveWindow(&Main());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
        m_pSplitter = m_pFrame->GetSplitter();
    }

    int GridHeight() const { return m_pFrame->GetConnectionPane()->height(); }
    int GraphHeight() const { return m_pFrame->GetGraphView()->height(); }
    // The pane or the control inside it has the focus.
    static bool HasFocus(QWidget* pane) {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == pane || pane->isAncestorOf(focus));
    }
    void Press(Qt::Key key, int times = 1) {
        for (int i = 0; i < times; ++i) QTest::keyClick(QApplication::focusWidget(), key);
    }

    CChildFrame* m_pFrame = nullptr;
    PaneSplitter* m_pSplitter = nullptr;
};

TEST_F(ChildFrameTest, OpensMaximisedWithTheGridAboveTheGraphInHalves) {
    EXPECT_TRUE(m_pFrame->isMaximized());
    EXPECT_EQ(m_pSplitter->orientation(), Qt::Vertical);
    ASSERT_EQ(m_pSplitter->count(), 2);
    EXPECT_EQ(m_pSplitter->widget(0), m_pFrame->GetConnectionPane());
    EXPECT_TRUE(m_pFrame->GetConnectionPane()->isAncestorOf(m_pFrame->GetGridView()));
    EXPECT_EQ(m_pSplitter->widget(1), m_pFrame->GetGraphView());
    EXPECT_LE(std::abs(GridHeight() - GraphHeight()), 1);
    EXPECT_GE(GridHeight(), 100);

    // Both views belong to the session; the grid is the active, focused view.
    CVGLDoc* document = m_pFrame->GetDocument();
    EXPECT_EQ(document->GetGridView(), m_pFrame->GetGridView());
    EXPECT_EQ(document->GetGraphView(), m_pFrame->GetGraphView());
    EXPECT_EQ(m_pApp->GetActiveView(), m_pFrame->GetGridView());
    EXPECT_TRUE(HasFocus(m_pFrame->GetGridView()));

    // The halves stay halves when the window changes size.
    Main().resize(Main().width(), Main().height() + 120);
    Settle();
    EXPECT_LE(std::abs(GridHeight() - GraphHeight()), 1);
}

TEST_F(ChildFrameTest, SplitMovesTheDividerByKeyboardButNoPaneBelow100) {
    const int gridBefore = GridHeight();
    ASSERT_TRUE(Run(cmd::WindowSplit));
    ASSERT_TRUE(m_pSplitter->IsKeyboardSplitting());
    EXPECT_EQ(QApplication::focusWidget(), m_pSplitter->handle(1));

    Press(Qt::Key_Up);
    EXPECT_EQ(GridHeight(), gridBefore - PaneSplitter::KeyStep);
    Press(Qt::Key_Up, 100);
    EXPECT_EQ(GridHeight(), 100);
    Press(Qt::Key_Escape);  // back to where it was
    EXPECT_FALSE(m_pSplitter->IsKeyboardSplitting());
    EXPECT_EQ(GridHeight(), gridBefore);
    EXPECT_TRUE(HasFocus(m_pFrame->GetGridView()));

    ASSERT_TRUE(Run(cmd::WindowSplit));
    Press(Qt::Key_PageDown, 50);
    EXPECT_EQ(GraphHeight(), 100);
    Press(Qt::Key_Return);  // kept
    EXPECT_FALSE(m_pSplitter->IsKeyboardSplitting());
    EXPECT_EQ(GraphHeight(), 100);
    EXPECT_GT(GridHeight(), gridBefore);
}

TEST_F(ChildFrameTest, NextAndPreviousPaneMoveTheFocusBetweenGridAndGraph) {
    ASSERT_TRUE(Run(cmd::NextPane));
    EXPECT_EQ(m_pFrame->GetActiveView(), m_pFrame->GetGraphView());
    EXPECT_TRUE(HasFocus(m_pFrame->GetGraphView()));
    ASSERT_TRUE(Run(cmd::PrevPane));
    EXPECT_EQ(m_pFrame->GetActiveView(), m_pFrame->GetGridView());
    EXPECT_TRUE(HasFocus(m_pFrame->GetGridView()));

    // Clicking into a pane makes it the active view as well.
    m_pFrame->GetGraphView()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(m_pApp->GetActiveView(), m_pFrame->GetGraphView());
}

TEST_F(ChildFrameTest, CtrlFFocusesTheFilterFromEitherPaneAndEscEmptiesIt) {
    ConnectionPane* pane = m_pFrame->GetConnectionPane();
    ASSERT_TRUE(Run(cmd::NextPane));  // from the graph as well
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), pane->FilterEdit());
    QTest::keyClicks(pane->FilterEdit(), "user:bob");
    EXPECT_EQ(m_pFrame->GetDocument()->FilterText(), "user:bob");
    Press(Qt::Key_Escape);
    EXPECT_EQ(m_pFrame->GetDocument()->FilterText(), "");
}

// Tab and Shift+Tab go round the filter line, the grid and the graph; the
// arrow keys move inside the grid, even with two sessions open.
TEST_F(ChildFrameTest, TabGoesRoundTheFilterTheGridAndTheGraph) {
    ASSERT_TRUE(Run(cmd::FileNew));
    m_pFrame = ActiveFrame();
    GridView* grid = m_pFrame->GetGridView();
    QWidget* filter = m_pFrame->GetConnectionPane()->FilterEdit();
    QWidget* graph = m_pFrame->GetGraphView()->GetGraph();
    ASSERT_TRUE(HasFocus(grid));
    std::vector<QWidget*> reached;
    for (int i = 0; i < 6; ++i) {
        Press(Qt::Key_Tab);
        reached.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(reached, (std::vector<QWidget*>{graph, filter, grid, graph, filter, grid}));
    reached.clear();
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        reached.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(reached, (std::vector<QWidget*>{filter, graph, grid}));
    EXPECT_EQ(m_pApp->GetActiveView(), grid);
    Press(Qt::Key_Down);
    Press(Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), grid);
}
