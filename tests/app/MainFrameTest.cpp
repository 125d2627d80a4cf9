// The main window: its two menus and the accelerator table, how commands are
// enabled in each state of a session, the refresh of every session when the
// window's activation changes, its tabs, closing and its size.

#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QScreen>
#include <QStatusBar>
#include <QTest>

#include "app/FramesFixture.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/UrlOpener.h"
#include "support/FakeMonitor.h"
#include "support/SessionSettle.h"

namespace {

struct Expected {
    QString m_Text;  // empty: a separator
    int m_Id;
    QString m_StatusTip;
};
using ExpectedMenu = std::pair<QString, std::vector<Expected>>;

const QString NewTip = "Create a new Socks vigil client window";
const QString PrintSetupTip = "Change the printer and printing options";
const QString ExitTip = "Quit the application; prompts to save documents";
const QString StatusBarTip = "Show or hide the status bar";
const QString AboutTip = "Display program information, version number and copyright";
const QString ManualTip = "Open the manual page in the desktop's help viewer";
const QString IdentityTip = "Show the fingerprint that monitors know this client by";
const QString HistoryTip = "Show the finished connections and the traffic recorded over time";
const QString ServersTip = "Show every open session's server, state and traffic in one grid";
const QString AllServersTip = "Show the connections of every open session in one grid";
const QString AlertsTip = "Show the alerts fired and edit their rules";
const Expected Separator{"", 0, ""};
const QString OpenTip = "Open an existing document";
// The places of the recent files, hidden while the list is empty.
const Expected Recent1{"", 57616, "Open this document"};
const Expected Recent2{"", 57617, "Open this document"};
const Expected Recent3{"", 57618, "Open this document"};
const Expected Recent4{"", 57619, "Open this document"};

const std::vector<ExpectedMenu> Menu128 = {
    {"&Socks5",
     {{"&New\tCtrl+N", 57600, NewTip},
      {"&Open...\tCtrl+O", 57601, OpenTip},
      Separator,
      {"P&rint Setup...", 57606, PrintSetupTip},
      Separator,
      Recent1,
      Recent2,
      Recent3,
      Recent4,
      Separator,
      {"E&xit", 57665, ExitTip}}},
    {"&View",
     {{"&Status Bar", 59393, StatusBarTip},
      {"&History...", 32796, HistoryTip},
      {"Ser&vers...", 32798, ServersTip},
      {"All Se&rvers...", 32799, AllServersTip},
      {"A&lerts...", 32800, AlertsTip}}},
    {"&Help",
     {{"&Manual", 57670, ManualTip},
      {"Monitor &Identity...", 32797, IdentityTip},
      {"&About Socks Vigil client...", 57664, AboutTip}}},
};

const std::vector<ExpectedMenu> Menu129 = {
    {"&Socks5",
     {{"&New", 57600, NewTip},
      {"&Open...\tCtrl+O", 57601, OpenTip},
      {"&Save\tCtrl+S", 57603, "Save the active document"},
      {"Save &As...", 57604, "Save the active document with a new name"},
      {"&Connect", 32773, "Connect the active Socks Vigil client to a new Socks server"},
      {"&Disconnect", 32776, "Disconnect from Socks server"},
      Separator,
      {"C&lose Connection", 32802, "Have the monitor close the chosen open connections"},
      {"Block &User...", 32803, "Have the proxy refuse the chosen connections' users"},
      {"Block Clie&nt...", 32804, "Have the proxy refuse the chosen connections' clients"},
      {"Block Des&tination...", 32805,
       "Have the proxy refuse connections to the chosen destinations"},
      {"Bloc&ks...", 32806, "Show the blocks the monitor keeps, and lift them"},
      Separator,
      {"&Export...", 32790, "Write the rows on show to a CSV or JSON file"},
      {"&Print...\tCtrl+P", 57607, "Print the active document"},
      {"Print Pre&view", 57609, "Display full pages"},
      {"P&rint Setup...", 57606, PrintSetupTip},
      Separator,
      Recent1,
      Recent2,
      Recent3,
      Recent4,
      Separator,
      {"E&xit", 57665, ExitTip}}},
    {"&Edit",
     {{"&Copy data\tCtrl+C", 57634,
       "Copy the selection in the data grid and put it on the Clipboard"},
      {"Copy Graph", 32781, "Copy the graph and put it on the Clipboard"}}},
    {"&View",
     {{"&Status Bar", 59393, StatusBarTip},
      {"&History...", 32796, HistoryTip},
      {"Ser&vers...", 32798, ServersTip},
      {"All Se&rvers...", 32799, AllServersTip},
      {"A&lerts...", 32800, AlertsTip},
      Separator,
      {"Show &Active", 32774, ""},
      {"Show &Failed", 32775, ""},
      Separator,
      {"&Group By", 0, ""}}},  // Connection, User, Destination, Service, Client
    {"&Option!", {}},
    {"&Window",
     {{"&New Window", 57648, "Open another window for the active document"},
      {"&Cascade", 57650, "Arrange windows so they overlap"},
      {"&Tile", 57651, "Arrange windows as non-overlapping tiles"},
      {"&Arrange Icons", 57649, "Arrange icons at the bottom of the window"},
      {"S&plit", 57653, "Split the active window into panes"}}},
    {"&Help",
     {{"&Manual", 57670, ManualTip},
      {"Monitor &Identity...", 32797, IdentityTip},
      {"&About SOCKS5 monitor client...", 57664, AboutTip}}},
};

}  // namespace

class MainFrameTest : public FramesTest {
protected:
    void ExpectMenuBar(const std::vector<ExpectedMenu>& expected) {
        Main().UpdateCommandStates();
        std::vector<QAction*> shown;
        for (QAction* bar : Main().menuBar()->actions()) {
            if (bar->isVisible()) shown.push_back(bar);
        }
        ASSERT_EQ(shown.size(), expected.size());
        for (size_t m = 0; m < expected.size(); ++m) {
            SCOPED_TRACE(expected[m].first.toStdString());
            EXPECT_EQ(shown[m]->text(), expected[m].first);
            if (!shown[m]->menu()) {
                EXPECT_EQ(shown[m]->data().toInt(), 32779);  // the bar's own Option! command
                EXPECT_TRUE(shown[m]->statusTip().isEmpty());
                continue;
            }
            const QList<QAction*> items = shown[m]->menu()->actions();
            ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].second.size()));
            for (qsizetype i = 0; i < items.size(); ++i) {
                const Expected& want = expected[m].second[static_cast<size_t>(i)];
                if (want.m_Id == 0 && want.m_Text.isEmpty()) {
                    EXPECT_TRUE(items[i]->isSeparator()) << i;
                    continue;
                }
                EXPECT_EQ(items[i]->text(), want.m_Text);
                EXPECT_EQ(items[i]->data().toInt(), want.m_Id) << want.m_Text.toStdString();
                EXPECT_EQ(items[i]->statusTip(), want.m_StatusTip) << want.m_Text.toStdString();
                // The keys belong to the accelerator table alone.
                EXPECT_TRUE(items[i]->shortcut().isEmpty());
            }
        }
    }

    bool Enabled(int id) { return State(id).m_bEnabled; }
    bool Checked(int id) { return State(id).m_bChecked; }
};

TEST_F(MainFrameTest, ShowsMenu129WithASessionAndMenu128WithNone) {
    ASSERT_TRUE(Start());
    ExpectMenuBar(Menu129);
    ActiveFrame()->close();
    Settle();
    EXPECT_TRUE(Documents().empty());
    ExpectMenuBar(Menu128);
    ASSERT_TRUE(Run(cmd::FileNew));
    ExpectMenuBar(Menu129);
}

// Each menu opens with its Alt key in both sets: the set that is not in use
// must not hold the same keys.
TEST_F(MainFrameTest, EveryMenuOpensWithItsAltKeyInBothMenuSets) {
    ASSERT_TRUE(Start());
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    const auto expectAltKeysOpen = [this](const std::vector<ExpectedMenu>& menus) {
        Main().UpdateCommandStates();
        for (const auto& [title, items] : menus) {
            if (items.empty()) continue;  // Option! is a command, not a menu
            const QChar key = title.at(title.indexOf('&') + 1).toUpper();
            QApplication::setActiveWindow(&Main());
            ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
            QTest::keyClick(&Main(), Qt::Key(key.unicode()), Qt::AltModifier);
            QMenu* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(open, nullptr) << "Alt+" << QString(key).toStdString();
            EXPECT_EQ(open->title(), title);
            // Escape closes the menu, a second one leaves the bar's keyboard mode.
            QTest::keyClick(open, Qt::Key_Escape);
            QTest::keyClick(Main().menuBar(), Qt::Key_Escape);
            Settle();
        }
    };
    expectAltKeysOpen(Menu129);
    // Option! is a command on the bar: Alt+O runs it, and so do O and Enter
    // on it after Alt has given the keys to the bar.
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    QWidget* grid = ActiveFrame()->GetGridView();
    grid->setFocus(Qt::OtherFocusReason);
    const auto barKeys = [this, grid](const std::vector<Qt::Key>& keys) {
        QTest::keyClick(grid, Qt::Key_Alt, Qt::AltModifier);
        ASSERT_EQ(QApplication::focusWidget(), Main().menuBar());
        for (Qt::Key key : keys) QTest::keyClick(Main().menuBar(), key);
        Settle();
    };
    QTest::keyClick(grid, Qt::Key_O, Qt::AltModifier);
    Settle();
    EXPECT_EQ(m_nOtherDialogs, 1) << "Alt+O";
    barKeys({Qt::Key_O});
    EXPECT_EQ(m_nOtherDialogs, 2) << "Alt, O";
    EXPECT_EQ(QApplication::focusWidget(), grid) << "the bar gave the keys back";
    barKeys({Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Return});
    EXPECT_EQ(m_nOtherDialogs, 3) << "Alt, arrows, Enter";
    ActiveFrame()->close();
    Settle();
    expectAltKeysOpen(Menu128);
}

TEST_F(MainFrameTest, CtrlTabGoesThroughEveryTabInOrder) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Run(cmd::FileNew));
    ASSERT_TRUE(Run(cmd::FileNew));
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    const std::vector<Worksheet*> sheets = Main().Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    Main().ActivateWorksheet(sheets[0]);
    for (size_t step : {1u, 2u, 0u, 1u}) {
        QTest::keyClick(&Main(), Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(Main().ActiveWorksheet(), sheets[step]);
    }
    QTest::keyClick(&Main(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Main().ActiveWorksheet(), sheets[0]);
    QTest::keyClick(&Main(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Main().ActiveWorksheet(), sheets[2]);
}

TEST_F(MainFrameTest, AcceleratorTableMapsEveryKeyToItsCommand) {
    ASSERT_TRUE(Start());
    std::map<QString, int> keys;
    for (QAction* accelerator : Main().Accelerators()) {
        for (const QKeySequence& key : accelerator->shortcuts()) {
            keys[key.toString(QKeySequence::PortableText)] = accelerator->data().toInt();
        }
    }
    const std::map<QString, int> expected = {
        {"Ctrl+N", 57600}, {"Ctrl+O", 57601},    {"Ctrl+S", 57603}, {"Ctrl+P", 57607},
        {"Ctrl+C", 57634}, {"Ctrl+Ins", 57634},  {"Ctrl+Z", 57643}, {"Alt+Backspace", 57643},
        {"Ctrl+X", 57635}, {"Shift+Del", 57635}, {"Ctrl+V", 57637}, {"Shift+Ins", 57637},
        {"F6", 57680},     {"Shift+F6", 57681},
    };
    EXPECT_EQ(keys, expected);
}

TEST_F(MainFrameTest, KeysReachTheirCommandsOnlyWhileEnabled) {
    ASSERT_TRUE(Start());
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    QTest::keyClick(&Main(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(Documents().size(), 2u);

    FakeMonitor monitor;
    ASSERT_TRUE(Documents().back()->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(Documents().back()));
    // Print is disabled while connected: the key is taken and nothing happens.
    QTest::keyClick(&Main(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(m_nOtherDialogs, 0);
    Documents().back()->OnDisconnect();
    QTest::keyClick(&Main(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(m_nOtherDialogs, 1);  // the print dialog, cancelled here
}

// Help > Manual hands the manual page to the desktop; when no viewer takes it,
// a box says how to read it.
TEST_F(MainFrameTest, ManualOpensTheManualPageInTheDesktopsViewer) {
    ASSERT_TRUE(Start());
    std::vector<QUrl> opened;
    bool viewerFound = true;
    SetUrlOpenerHook([&](const QUrl& url) {
        opened.push_back(url);
        return viewerFound;
    });
    QAction* manual = Item(cmd::HelpManual);
    ASSERT_NE(manual, nullptr);
    manual->trigger();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl("man:vgl")});
    EXPECT_TRUE(m_Messages.isEmpty());
    viewerFound = false;
    manual->trigger();
    SetUrlOpenerHook({});
    EXPECT_EQ(opened.size(), 2u);
    ASSERT_EQ(m_Messages.size(), 1);
    EXPECT_TRUE(m_Messages[0].contains("man vgl"));
}

TEST_F(MainFrameTest, CommandsAreEnabledByTheirTargetsInEachState) {
    ASSERT_TRUE(Start());
    ActiveFrame()->close();
    Settle();
    // No session: the application's and the frame's commands only.
    for (int id : {57600, 57606, 57665, 59393, 57664}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(Checked(59393));
    for (int id : {32773, 32776, 57607, 57634, 32781, 32774, 32779, 57648, 57650, 57653, 57680}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }

    // A new session, not connected: copying and printing are offered.
    ASSERT_TRUE(Run(cmd::FileNew));
    for (int id : {32773, 57607, 57606, 57634, 32781, 32774, 32775, 32779, 57648, 57650, 57651,
                   57649, 57653, 57680, 57681}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_FALSE(Enabled(32776));
    EXPECT_TRUE(Checked(32774));
    EXPECT_FALSE(Checked(32775));
    // Undo, Cut and Paste: nothing on the route handles them.
    for (int id : {57643, 57635, 57637}) EXPECT_FALSE(Enabled(id)) << id;

    // Connected: the other way round.
    FakeMonitor monitor;
    ASSERT_TRUE(Documents().front()->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(Documents().front()));
    EXPECT_FALSE(Enabled(32773));
    EXPECT_TRUE(Enabled(32776));
    for (int id : {57607, 57606, 57634, 32781}) EXPECT_FALSE(Enabled(id)) << id;

    // The menu items follow, and choosing one runs its command.
    QAction* showFailed = Item(32775);
    ASSERT_NE(showFailed, nullptr);
    EXPECT_FALSE(showFailed->isChecked());
    EXPECT_FALSE(Item(57607)->isEnabled());
    showFailed->trigger();
    EXPECT_TRUE(Item(32775)->isChecked());
    EXPECT_FALSE(Item(32774)->isChecked());
    EXPECT_FALSE(Documents().front()->m_Table.IsShowActive());
    Item(32776)->trigger();
    EXPECT_NE(Documents().front()->m_bDisconnected, 0);
    EXPECT_TRUE(Item(57607)->isEnabled());
    EXPECT_TRUE(Item(32773)->isEnabled());
}

TEST_F(MainFrameTest, ActivationChangeRefreshesEveryConnectedSessionOnce) {
    FakeMonitor first;
    FakeMonitor second;
    VGLCommandLine commandLine;
    commandLine.m_ConnectHosts = {QString::fromStdString(first.Host()),
                                  QString::fromStdString(second.Host())};
    ASSERT_TRUE(Start(commandLine));
    m_pApp->ConnectCommandLineSessions();
    ASSERT_TRUE(SettleAll());
    ASSERT_TRUE(Run(cmd::FileNew));  // a third session, never connected
    ASSERT_EQ(Documents().size(), 3u);
    const size_t firstBefore = first.RequestCount();
    const size_t secondBefore = second.RequestCount();
    ASSERT_GE(firstBefore, 1u);

    for (int change = 1; change <= 2; ++change) {  // gaining, then losing activation
        QEvent activation(QEvent::ActivationChange);
        QApplication::sendEvent(&Main(), &activation);
        ASSERT_TRUE(SettleAll());
        EXPECT_EQ(first.RequestCount(), firstBefore + static_cast<size_t>(change));
        EXPECT_EQ(second.RequestCount(), secondBefore + static_cast<size_t>(change));
    }
    EXPECT_TRUE(Main().IsWorkbookMode());
    EXPECT_TRUE(m_Messages.isEmpty());
}

TEST_F(MainFrameTest, StatusBarHasOnlyTheMessagePaneAndCanBeHidden) {
    ASSERT_TRUE(Start());
    QStatusBar* bar = Main().statusBar();
    EXPECT_EQ(Main().IdlePane()->text(), "Ready");
    EXPECT_EQ(bar->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    Item(59393)->trigger();
    EXPECT_TRUE(bar->isHidden());
    EXPECT_FALSE(Item(59393)->isChecked());
    Item(59393)->trigger();
    EXPECT_FALSE(bar->isHidden());
    EXPECT_TRUE(Item(59393)->isChecked());
}

TEST_F(MainFrameTest, CaptionNamesTheActiveSessionWhetherItsFrameIsMaximisedOrNot) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(Main().windowTitle(), "VGL - [VGL1]");
    ASSERT_TRUE(Run(cmd::WindowTile));
    ASSERT_FALSE(ActiveFrame()->isMaximized());
    EXPECT_EQ(Main().windowTitle(), "VGL - VGL1");
    Documents().front()->SetTitle("Connected to Socks5 server -- gate");
    EXPECT_EQ(Main().windowTitle(), "VGL - Connected to Socks5 server -- gate");
    ActiveFrame()->showMaximized();
    EXPECT_EQ(Main().windowTitle(), "VGL - [Connected to Socks5 server -- gate]");
    ActiveFrame()->showNormal();
    EXPECT_EQ(Main().windowTitle(), "VGL - Connected to Socks5 server -- gate");
    ActiveFrame()->close();
    Settle();
    EXPECT_EQ(Main().windowTitle(), "VGL");
}

TEST_F(MainFrameTest, CannotBeMadeSmallerThan400By450AndOpensWithinTheScreen) {
    ASSERT_TRUE(Start());
    // The test screen (800 by 600) is smaller than the usual first size.
    const QRect available = Main().screen()->availableGeometry();
    ASSERT_LT(available.width(), 960);
    EXPECT_TRUE(available.contains(Main().frameGeometry()));
    EXPECT_TRUE(available.contains(Main().normalGeometry()));
    Main().showNormal();
    EXPECT_EQ(Main().minimumSize(), QSize(400, 450));
    Main().resize(100, 100);
    EXPECT_EQ(Main().size(), QSize(400, 450));
}

TEST_F(MainFrameTest, TabsFollowTheFramesAndAClickActivatesOne) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Run(cmd::FileNew));
    CChildFrame* second = ActiveFrame();
    ASSERT_TRUE(Run(cmd::WindowNew));  // another window of VGL2
    CChildFrame* third = ActiveFrame();
    ASSERT_NE(third, second);
    EXPECT_EQ(third->GetDocument(), second->GetDocument());

    const std::vector<Worksheet*> sheets = Main().Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    QStringList labels;
    for (Worksheet* sheet : sheets) labels << Main().TabLabel(sheet);
    EXPECT_EQ(labels, QStringList({"VGL1", "VGL2", "VGL2"}));
    EXPECT_EQ(second->windowTitle(), "VGL2:1");
    EXPECT_EQ(third->windowTitle(), "VGL2:2");

    for (Worksheet* sheet : sheets) {
        const Workbook::TabGeometry tab = Main().GetTabGeometry(sheet);
        EXPECT_EQ(tab.m_Polygon.boundingRect().size(), QSize(100, 23));
        EXPECT_FALSE(Main().TabIcon(sheet).isNull());
    }
    // Where neighbours overlap, the active tab lies on top.
    const QRect middle = Main().GetTabGeometry(sheets[1]).m_Polygon.boundingRect();
    const QPoint overlap(middle.right() - 2, 2);
    EXPECT_EQ(Main().WorksheetAtTab(overlap), sheets[2]);
    Main().ActivateWorksheet(sheets[1]);
    EXPECT_EQ(Main().WorksheetAtTab(overlap), sheets[1]);

    QTest::mouseClick(Main().TabStrip(), Qt::LeftButton, {},
                      Main().GetTabGeometry(sheets[0]).m_LabelRect.center());
    EXPECT_EQ(ActiveFrame(), sheets[0]);
    EXPECT_EQ(m_pApp->GetActiveDocument(), Documents().front());

    // A tab follows its document's title.
    Documents().front()->SetTitle("Connected to Socks5 server -- gate.example");
    EXPECT_EQ(CMainFrame::TabLabelText(Main().TabLabel(sheets[0])), "gate.example");
}

TEST_F(MainFrameTest, ClosingTheLastWindowOfASessionClosesTheSessionAndExitClosesAll) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Run(cmd::WindowNew));
    ASSERT_EQ(CChildFrame::FramesOf(Documents().front()).size(), 2u);
    ActiveFrame()->close();
    Settle();
    ASSERT_EQ(Documents().size(), 1u);
    EXPECT_EQ(Main().Worksheets().size(), 1u);
    EXPECT_EQ(ActiveFrame()->windowTitle(), "VGL1");
    ActiveFrame()->close();
    Settle();
    EXPECT_TRUE(Documents().empty());
    EXPECT_TRUE(Main().Worksheets().empty());

    // Closing a session from elsewhere closes all its windows.
    ASSERT_TRUE(Run(cmd::FileNew));
    ASSERT_TRUE(Run(cmd::WindowNew));
    Documents().front()->OnCloseDocument();
    Settle();
    EXPECT_TRUE(Main().Worksheets().empty());

    // Exit closes every session, then the window.
    ASSERT_TRUE(Run(cmd::FileNew));
    ASSERT_TRUE(Run(cmd::AppExit));
    EXPECT_TRUE(Documents().empty());
    EXPECT_FALSE(Main().isVisible());
}
