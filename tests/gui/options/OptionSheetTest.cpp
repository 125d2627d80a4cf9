// The sheet: how it finds its session, its pages and buttons, and what OK,
// Apply and Cancel apply.

#include <QTabWidget>

#include "gui/framework/CommandIds.h"
#include "gui/framework/GWFrame.h"
#include "gui/options/OptionTableDlg.h"
#include "gui/options/OptionsFixture.h"
#include "support/FakeMonitor.h"
#include "support/SessionSettle.h"

namespace {

struct FakeChildFrame : GWFrame {
    GWView* GetActiveView() const override { return m_pView; }
    GWView* m_pView = nullptr;
};

struct FakeMainFrame : GWMainFrame {
    GWFrame* GetActiveChildFrame() const override { return m_pChild; }
    GWFrame* m_pChild = nullptr;
};

}  // namespace

class OptionSheetTest : public OptionsTest {};

TEST_F(OptionSheetTest, RunOpensOnTheActiveSessionOnly) {
    OptionPPT idle(QStringLiteral("Options"));
    EXPECT_EQ(idle.Run(), QDialog::Rejected);  // no main window, no session
    EXPECT_EQ(m_SheetsShown, 0);

    FakeChildFrame child;
    FakeMainFrame main;
    main.m_pChild = &child;
    child.m_pView = m_pGraph.get();
    m_pApp->SetMainFrame(&main);
    m_Script = [](OptionPPT& sheet) {
        EXPECT_EQ(sheet.windowTitle(), "Options");
        ASSERT_EQ(sheet.Tabs()->count(), 3);
        EXPECT_EQ(sheet.Tabs()->tabText(0), "Table");
        EXPECT_EQ(sheet.Tabs()->tabText(1), "Data ");
        EXPECT_EQ(sheet.Tabs()->tabText(2), "Graph");
        EXPECT_EQ(sheet.Tabs()->currentIndex(), 0);
        EXPECT_EQ(sheet.CancelButton()->text(), "Cancel");
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
        Click(sheet.OkButton());
    };
    OptionPPT sheet(QStringLiteral("Options"));
    EXPECT_EQ(sheet.Run(), QDialog::Accepted);
    EXPECT_EQ(m_SheetsShown, 1);

    // A session without its graph view gets no sheet.
    m_pDocument->RemoveView(m_pGraph.get());
    child.m_pView = m_pGrid.get();
    OptionPPT again(QStringLiteral("Options"));
    EXPECT_EQ(again.Run(), QDialog::Rejected);
    EXPECT_EQ(OptionPPT::RunFor(*m_pDocument), QDialog::Rejected);
    EXPECT_EQ(m_SheetsShown, 1);
    m_pApp->SetMainFrame(nullptr);
    m_Script = {};
}

TEST_F(OptionSheetTest, OkWithoutChangesAppliesNothingButRefreshes) {
    FakeMonitor monitor;
    ASSERT_TRUE(m_pDocument->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    const size_t polls = monitor.RequestCount();
    RunSheet([this](OptionPPT& sheet) {
        for (int page = 0; page < 3; ++page) sheet.Tabs()->setCurrentIndex(page);
        // Changed behind the sheet's back: a page that applied itself would undo these.
        m_pGrid->m_ColumnInfo[0].m_bHidden = 1;
        m_pDocument->m_UpdatePeriod = 90;
        m_pDocument->m_Table.SetDisplayOptions(0, 2);
        m_pGraph->SetServiceList({"www"});
        Click(sheet.OkButton());
    });
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    EXPECT_EQ(monitor.RequestCount(), polls + 1);
    EXPECT_EQ(m_pGrid->m_ColumnInfo[0].m_bHidden, 1);
    EXPECT_EQ(m_pDocument->m_UpdatePeriod, 90);
    EXPECT_EQ(m_pDocument->m_Table.HostForm(), 0);
    EXPECT_EQ(m_pDocument->m_Table.DataUnit(), 2);
    EXPECT_EQ(m_pGraph->GetServiceList(), std::vector<std::string>({"www", "Others"}));
}

TEST_F(OptionSheetTest, CloseAfterApplyKeepsWhatApplyDid) {
    FakeMonitor monitor;
    ASSERT_TRUE(m_pDocument->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    const size_t polls = monitor.RequestCount();
    const int result = RunSheet([&](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        ClickItem(page.ShownList(), 0);  // Source
        Click(page.HideButton());
        Click(sheet.ApplyButton());
        EXPECT_TRUE(m_pGrid->isColumnHidden(0));
        EXPECT_TRUE(SettleSession(m_pDocument.get()));
        EXPECT_EQ(monitor.RequestCount(), polls + 1);
        EXPECT_EQ(sheet.CancelButton()->text(), "Close");
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
        EXPECT_EQ(page.m_bModified, 0);

        ClickItem(page.ShownList(), 0);  // Destination
        Click(page.HideButton());
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        Click(sheet.CancelButton());
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(m_pGrid->isColumnHidden(0));
    EXPECT_FALSE(m_pGrid->isColumnHidden(1));
    EXPECT_EQ(monitor.RequestCount(), polls + 1);
}

TEST_F(OptionSheetTest, OptionCommandOnTheSessionOpensTheSheet) {
    m_Script = [](OptionPPT& sheet) { Click(sheet.CancelButton()); };
    const GWCmdRoute route{m_pGrid.get(), m_pDocument.get()};
    EXPECT_TRUE(GWUpdateCommand(route, cmd::Option).m_bEnabled);
    EXPECT_TRUE(GWRouteCommand(route, cmd::Option));
    EXPECT_EQ(m_SheetsShown, 1);
    m_Script = {};
}
