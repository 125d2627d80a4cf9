#include <gtest/gtest.h>

#include "FrameworkFakes.h"

namespace {

// One document with two views in a document frame inside the main frame;
// the first view is active.
class CommandRouteTest : public ::testing::Test {
protected:
    CommandRouteTest() {
        m_Document.AddView(&m_First);
        m_Document.AddView(&m_Second);
        m_Child.m_pActiveView = &m_First;
        m_Main.m_pChild = &m_Child;
        m_App.SetMainFrame(&m_Main);
    }
    ~CommandRouteTest() override { m_App.SetMainFrame(nullptr); }

    void HandleEverywhere(int id) {
        m_First.Handle(id);
        m_Second.Handle(id);
        m_Document.Handle(id, "document");
        m_Child.Handle(id);
        m_Main.Handle(id);
        m_App.Handle(id);
    }
    std::string Run(int id) {
        m_Log.clear();
        const bool done = m_App.ExecuteCommand(id);
        EXPECT_EQ(done, !m_Log.empty());
        return m_Log.empty() ? std::string("nobody") : m_Log.back();
    }

    Log m_Log;
    FakeApp m_App{&m_Log};
    FakeDocument m_Document{&m_Log};
    FakeView m_First{"first view", &m_Log};
    FakeView m_Second{"second view", &m_Log};
    FakeFrame m_Child{"document frame", &m_Log};
    FakeMainFrame m_Main{&m_Log};
};

}  // namespace

TEST_F(CommandRouteTest, ActiveViewThenDocumentThenFramesThenApplication) {
    HandleEverywhere(1);
    EXPECT_EQ(Run(1), "first view");
    m_Child.m_pActiveView = &m_Second;
    EXPECT_EQ(Run(1), "second view");

    // Each id is handled by one target fewer, from the front of the route.
    m_Second.Handle(2);  // not the active view: out of the route
    m_Child.m_pActiveView = &m_First;
    m_Document.Handle(2, "document");
    m_Child.Handle(2);
    m_Main.Handle(2);
    m_App.Handle(2);
    EXPECT_EQ(Run(2), "document");
    m_Child.Handle(3);
    m_Main.Handle(3);
    m_App.Handle(3);
    EXPECT_EQ(Run(3), "document frame");
    m_Main.Handle(4);
    m_App.Handle(4);
    EXPECT_EQ(Run(4), "main frame");
    m_App.Handle(5);
    EXPECT_EQ(Run(5), "application");

    EXPECT_EQ(Run(6), "nobody");
    EXPECT_FALSE(m_App.UpdateCommand(6).m_bEnabled);
    EXPECT_TRUE(m_App.UpdateCommand(5).m_bEnabled);  // handled and no updater: enabled
    EXPECT_GT(m_Main.m_nStateUpdates, 0);            // menus follow after each command
}

TEST_F(CommandRouteTest, FirstUpdaterAlongTheRouteDecides) {
    // The view carries out Print, the document decides whether it may.
    m_First.Handle(10);
    m_Document.Enable(10, false);
    m_App.Enable(10, true);
    EXPECT_FALSE(m_App.UpdateCommand(10).m_bEnabled);
    EXPECT_EQ(Run(10), "nobody");  // a disabled command does nothing

    m_First.Enable(11, true, true);
    m_First.Handle(11);
    m_Document.Enable(11, false);
    const GWCmdUI ui = m_App.UpdateCommand(11);
    EXPECT_TRUE(ui.m_bEnabled);
    EXPECT_TRUE(ui.m_bChecked);
    EXPECT_EQ(Run(11), "first view");

    // The document's updater reaches a command that the application carries out.
    m_Document.Enable(12, true);
    m_App.Handle(12);
    EXPECT_EQ(Run(12), "application");
    m_Document.Enable(12, false);
    EXPECT_EQ(Run(12), "nobody");
}

TEST_F(CommandRouteTest, UpdatesSkipTheSenderAndCarryTheHint) {
    QObject hintObject;
    m_Document.UpdateAllViews(&m_First, 7, &hintObject);
    EXPECT_TRUE(m_First.m_Updates.empty());
    ASSERT_EQ(m_Second.m_Updates.size(), 1u);
    EXPECT_EQ(m_Second.m_Updates[0].m_pSender, &m_First);
    EXPECT_EQ(m_Second.m_Updates[0].m_Hint, 7);
    EXPECT_EQ(m_Second.m_Updates[0].m_pObject, &hintObject);

    m_Document.UpdateAllViews(nullptr);
    EXPECT_EQ(m_First.m_Updates.size(), 1u);
    EXPECT_EQ(m_Second.m_Updates.size(), 2u);
}

TEST_F(CommandRouteTest, ViewLeavingDuringAnUpdateIsNotUpdated) {
    m_First.m_pCloseOnUpdate = &m_Second;
    m_Document.UpdateAllViews(nullptr);
    EXPECT_EQ(m_First.m_Updates.size(), 1u);
    EXPECT_TRUE(m_Second.m_Updates.empty());
    EXPECT_EQ(m_Document.GetViews(), std::vector<GWView*>{&m_First});
}

TEST_F(CommandRouteTest, FirstUpdateCallsTheUpdateHookOnceWithoutHint) {
    m_First.OnInitialUpdate();
    ASSERT_EQ(m_First.m_Updates.size(), 1u);
    EXPECT_EQ(m_First.m_Updates[0].m_pSender, nullptr);
    EXPECT_EQ(m_First.m_Updates[0].m_Hint, 0);
    EXPECT_EQ(m_First.m_Updates[0].m_pObject, nullptr);
    EXPECT_TRUE(m_Second.m_Updates.empty());
}

TEST_F(CommandRouteTest, ViewsAndDocumentForgetEachOther) {
    {
        FakeView third("third view", &m_Log);
        m_Document.AddView(&third);
        EXPECT_EQ(m_Document.GetViews().size(), 3u);
        EXPECT_EQ(m_Document.FindView<FakeView>(), &m_First);
    }
    EXPECT_EQ(m_Document.GetViews().size(), 2u);
    auto* document = new FakeDocument;
    FakeView orphan("orphan", &m_Log);
    document->AddView(&orphan);
    delete document;
    EXPECT_EQ(orphan.GetDocument(), nullptr);
}
