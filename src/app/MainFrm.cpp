#include "app/MainFrm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <map>

#include "app/GWWinApp.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/FirstSize.h"
#include "gui/framework/GWApp.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/framework/GWDocument.h"
#include "gui/framework/ProfileSettings.h"
#include "gui/fleet/AlertsWindow.h"
#include "gui/fleet/AllServersWindow.h"
#include "gui/fleet/ServersWindow.h"
#include "gui/history/HistoryWindow.h"
#include "gui/session/CVGLDoc.h"
#include "gui/toolkit/ResourceIcon.h"
#include "gui/toolkit/Worksheet.h"

namespace {

constexpr int MainResourceId = 128;
constexpr int IdleUpdateMs = 200;

// The status-bar prompts of the string table: the text shown while the
// pointer rests on the item, then after a line break the command's short name.
const std::map<int, const char*>& Prompts() {
    static const std::map<int, const char*> prompts = {
        {cmd::FileNew, "Create a new Socks vigil client window\nNew"},
        {cmd::FilePrintSetup, "Change the printer and printing options\nPrint Setup"},
        {cmd::AppExit, "Quit the application; prompts to save documents\nExit"},
        {cmd::ViewStatusBar, "Show or hide the status bar\nToggle StatusBar"},
        {cmd::ViewAllServers,
         "Show the connections of every open session in one grid\nAll Servers"},
        {cmd::ViewHistory,
         "Show the finished connections and the traffic recorded over time\nHistory"},
        {cmd::ViewServers,
         "Show every open session's server, state and traffic in one grid\nServers"},
        {cmd::ViewAlerts, "Show the alerts fired and edit their rules\nAlerts"},
        {cmd::AppAbout, "Display program information, version number and copyright\nAbout"},
        {cmd::HelpManual, "Open the manual page in the desktop's help viewer\nManual"},
        {cmd::HelpIdentity,
         "Show the fingerprint that monitors know this client by\nMonitor Identity"},
        {cmd::Connect, "Connect the active Socks Vigil client to a new Socks server"},
        {cmd::Disconnect, "Disconnect from Socks server"},
        {cmd::FilePrint, "Print the active document\nPrint"},
        {cmd::EditCopy, "Copy the selection in the data grid and put it on the Clipboard\nCopy"},
        {cmd::CopyGraph, "Copy the graph and put it on the Clipboard"},
        {cmd::Export, "Write the rows on show to a CSV or JSON file\nExport"},
        {cmd::CloseConnections,
         "Have the monitor close the chosen open connections\nClose Connection"},
        {cmd::BlockUser, "Have the proxy refuse the chosen connections' users\nBlock User"},
        {cmd::BlockClient, "Have the proxy refuse the chosen connections' clients\nBlock Client"},
        {cmd::BlockDestination,
         "Have the proxy refuse connections to the chosen destinations\nBlock Destination"},
        {cmd::ViewBlocks, "Show the blocks the monitor keeps, and lift them\nBlocks"},
        {cmd::GroupByConnection, "One row per connection\nGroup by connection"},
        {cmd::GroupByUser, "One row per user name\nGroup by user"},
        {cmd::GroupByDestination, "One row per destination host\nGroup by destination"},
        {cmd::GroupByService, "One row per service\nGroup by service"},
        {cmd::GroupByClient, "One row per client address\nGroup by client"},
        {cmd::WindowNew, "Open another window for the active document\nNew Window"},
        {cmd::WindowCascade, "Arrange windows so they overlap\nCascade Windows"},
        {cmd::WindowTile, "Arrange windows as non-overlapping tiles\nTile Windows"},
        {cmd::WindowArrange, "Arrange icons at the bottom of the window\nArrange Icons"},
        {cmd::WindowSplit, "Split the active window into panes\nSplit"},
        {cmd::FileOpen, "Open an existing document\nOpen"},
        {cmd::FileSave, "Save the active document\nSave"},
        {cmd::FileSaveAs, "Save the active document with a new name\nSave As"},
        {cmd::FilePrintPreview, "Display full pages\nPrint Preview"},
        {cmd::FileMru1, "Open this document"},
        {cmd::FileMru1 + 1, "Open this document"},
        {cmd::FileMru1 + 2, "Open this document"},
        {cmd::FileMru1 + 3, "Open this document"},
    };
    return prompts;
}

int RefreshDocument(GWDocument* document, uintptr_t) {
    if (auto* session = dynamic_cast<CVGLDoc*>(document)) session->Refresh();
    return 1;
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : Workbook(parent) {
    setWindowTitle(QStringLiteral("VGL"));
    setWindowIcon(ResourceIcon(MainResourceId));
    BuildMenus();
    BuildAccelerators();
    BuildTabKeys();
    BuildStatusBar();
    RegisterCommands();
    setMinimumSize(MinimumWidth, MinimumHeight);
    FitFirstSize();
    SetWorkbookMode(true);

    connect(MdiArea(), &QMdiArea::subWindowActivated, this, [this] { UpdateCommandStates(); });
    // Menus are brought up to date as they open; the idle pass keeps the
    // bar's own command and the accelerators' targets right in between.
    m_pIdleTimer = new QTimer(this);
    connect(m_pIdleTimer, &QTimer::timeout, this, [this] { UpdateCommandStates(); });
    m_pIdleTimer->start(IdleUpdateMs);
    UpdateCommandStates();
}

// 960 by 680 where that fits the screen's available area; where it does not
// (a small screen, or a large scale factor) the window opens maximised, its
// normal size fitted inside that area.
void CMainFrame::FitFirstSize() {
    GWFitFirstSize(*this, QSize(960, 680), minimumSize());
}

CMainFrame::~CMainFrame() {
    m_pIdleTimer->stop();
    MdiArea()->disconnect(this);
    if (GWApp* app = GWApp::Get(); app && app->GetMainFrame() == this) app->SetMainFrame(nullptr);
}

// Beyond the described menus, the Socks5 menus offer Open, Save, Save As,
// Print Preview and the recent files (the described ones reach Open and Save
// by their keys only), and Help the manual; every described item keeps its
// text, command and order.
void CMainFrame::BuildMenus() {
    m_Menu128 = BuildMenuBar(Menus128());
    m_Menu129 = BuildMenuBar(Menus129());
    // Only one set is on the bar at a time: the hidden set's Alt keys (both
    // have "&Socks5", "&View" and "&Help") would otherwise make each of
    // those keys ambiguous, and none would open its menu.
    for (QAction* action : m_Menu129) menuBar()->removeAction(action);
    AddGroupByMenu(m_Menu129[2]->menu());
    menuBar()->installEventFilter(this);
}

// Both Socks5 menus end with the recent files and Exit.
std::vector<CMainFrame::MenuItem> CMainFrame::WithRecentAndExit(std::vector<MenuItem> items) {
    items.insert(items.end(), {{"", cmd::FileMru1},
                               {"", cmd::FileMru1 + 1},
                               {"", cmd::FileMru1 + 2},
                               {"", cmd::FileMru1 + 3},
                               {nullptr, 0},
                               {"E&xit", cmd::AppExit}});
    return items;
}

// The menu bar while no session is open.
std::vector<CMainFrame::Menu> CMainFrame::Menus128() {
    return {
        {"&Socks5", 0,
         WithRecentAndExit({{"&New\tCtrl+N", cmd::FileNew},
                            {"&Open...\tCtrl+O", cmd::FileOpen},
                            {nullptr, 0},
                            {"P&rint Setup...", cmd::FilePrintSetup},
                            {nullptr, 0}})},
        {"&View",
         0,
         {{"&Status Bar", cmd::ViewStatusBar},
          {"&History...", cmd::ViewHistory},
          {"Ser&vers...", cmd::ViewServers},
          {"All Se&rvers...", cmd::ViewAllServers},
          {"A&lerts...", cmd::ViewAlerts}}},
        {"&Help",
         0,
         {{"&Manual", cmd::HelpManual},
          {"Monitor &Identity...", cmd::HelpIdentity},
          {"&About Socks Vigil client...", cmd::AppAbout}}},
    };
}

// The menu bar of a session.
std::vector<CMainFrame::Menu> CMainFrame::Menus129() {
    return {
        {"&Socks5", 0,
         WithRecentAndExit({{"&New", cmd::FileNew},
                            {"&Open...\tCtrl+O", cmd::FileOpen},
                            {"&Save\tCtrl+S", cmd::FileSave},
                            {"Save &As...", cmd::FileSaveAs},
                            {"&Connect", cmd::Connect},
                            {"&Disconnect", cmd::Disconnect},
                            {nullptr, 0},
                            {"C&lose Connection", cmd::CloseConnections},
                            {"Block &User...", cmd::BlockUser},
                            {"Block Clie&nt...", cmd::BlockClient},
                            {"Block Des&tination...", cmd::BlockDestination},
                            {"Bloc&ks...", cmd::ViewBlocks},
                            {nullptr, 0},
                            {"&Export...", cmd::Export},
                            {"&Print...\tCtrl+P", cmd::FilePrint},
                            {"Print Pre&view", cmd::FilePrintPreview},
                            {"P&rint Setup...", cmd::FilePrintSetup},
                            {nullptr, 0}})},
        {"&Edit", 0, {{"&Copy data\tCtrl+C", cmd::EditCopy}, {"Copy Graph", cmd::CopyGraph}}},
        {"&View",
         0,
         {{"&Status Bar", cmd::ViewStatusBar},
          {"&History...", cmd::ViewHistory},
          {"Ser&vers...", cmd::ViewServers},
          {"All Se&rvers...", cmd::ViewAllServers},
          {"A&lerts...", cmd::ViewAlerts},
          {nullptr, 0},
          {"Show &Active", cmd::ShowActive},
          {"Show &Failed", cmd::ShowFailed}}},
        {"&Option!", cmd::Option, {}},
        {"&Window",
         0,
         {{"&New Window", cmd::WindowNew},
          {"&Cascade", cmd::WindowCascade},
          {"&Tile", cmd::WindowTile},
          {"&Arrange Icons", cmd::WindowArrange},
          {"S&plit", cmd::WindowSplit}}},
        {"&Help",
         0,
         {{"&Manual", cmd::HelpManual},
          {"Monitor &Identity...", cmd::HelpIdentity},
          {"&About SOCKS5 monitor client...", cmd::AppAbout}}},
    };
}

// After Alt the bar takes the keys: a menu's letter opens its menu, and
// the letter of a command on the bar itself (Option!) runs it as well,
// where the bar on its own would only highlight it.
bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menuBar() && event->type() == QEvent::KeyPress) {
        if (QAction* command = BarCommandOfKey(*static_cast<QKeyEvent*>(event))) {
            QKeyEvent leave(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(menuBar(), &leave);  // the focus goes back first
            command->trigger();
            return true;
        }
    }
    return Workbook::eventFilter(watched, event);
}

QAction* CMainFrame::BarCommandOfKey(const QKeyEvent& event) const {
    if (event.modifiers() & ~(Qt::AltModifier | Qt::KeypadModifier)) return nullptr;
    const QKeySequence key(Qt::ALT | Qt::Key(event.key()));
    for (QAction* action : menuBar()->actions()) {
        if (!action->menu() && action->isVisible() && action->isEnabled() &&
            QKeySequence::mnemonic(action->text()) == key) {
            return action;
        }
    }
    return nullptr;
}

// View > Group By: the grid shows connections, or one row per group of them.
void CMainFrame::AddGroupByMenu(QMenu* view) {
    if (!view) return;
    view->addSeparator();
    QMenu* groupBy = view->addMenu(QStringLiteral("&Group By"));
    const std::pair<const char*, int> items[] = {{"&Connection", cmd::GroupByConnection},
                                                 {"&User", cmd::GroupByUser},
                                                 {"&Destination", cmd::GroupByDestination},
                                                 {"&Service", cmd::GroupByService},
                                                 {"C&lient", cmd::GroupByClient}};
    for (const auto& [text, id] : items) {
        groupBy->addAction(MakeCommandAction(QString::fromUtf8(text), id, groupBy));
    }
    connect(groupBy, &QMenu::aboutToShow, this, [this] { UpdateCommandStates(); });
}

std::vector<QAction*> CMainFrame::BuildMenuBar(const std::vector<Menu>& menus) {
    std::vector<QAction*> barActions;
    for (const Menu& menu : menus) {
        if (menu.m_Id != 0) {
            QAction* command = MakeCommandAction(QString::fromUtf8(menu.m_Title), menu.m_Id, this);
            menuBar()->addAction(command);
            barActions.push_back(command);
            continue;
        }
        auto* dropDown = new QMenu(QString::fromUtf8(menu.m_Title), this);
        dropDown->setSeparatorsCollapsible(false);  // the File menu has two in a row
        dropDown->setToolTipsVisible(true);         // why an item is disabled
        for (const MenuItem& item : menu.m_Items) {
            if (item.m_Id == 0) {
                dropDown->addSeparator();
                continue;
            }
            QAction* action =
                MakeCommandAction(QString::fromUtf8(item.m_Text), item.m_Id, dropDown);
            dropDown->addAction(action);
            if (item.m_Id >= cmd::FileMru1 && item.m_Id < cmd::FileMru1 + 4) {
                m_RecentActions.push_back(action);
            }
        }
        connect(dropDown, &QMenu::aboutToShow, this, [this] { UpdateCommandStates(); });
        menuBar()->addMenu(dropDown);
        barActions.push_back(dropDown->menuAction());
    }
    return barActions;
}

// The shortcut shown after the tab in an item's text belongs to the
// accelerator table, not to the item: a key bound twice would reach neither.
QAction* CMainFrame::MakeCommandAction(const QString& text, int id, QObject* parent) {
    auto* action = new QAction(text, parent);
    action->setData(id);
    const auto prompt = Prompts().find(id);
    if (prompt != Prompts().end()) {
        const QString full = QString::fromUtf8(prompt->second);
        const qsizetype lineBreak = full.indexOf('\n');
        action->setStatusTip(full.left(lineBreak));
        if (lineBreak >= 0) action->setToolTip(full.mid(lineBreak + 1));
    }
    connect(action, &QAction::triggered, this, [id] {
        if (GWApp* app = GWApp::Get()) app->ExecuteCommand(id);
    });
    m_CommandActions.push_back(action);
    return action;
}

void CMainFrame::BuildAccelerators() {
    const std::vector<std::pair<int, QList<QKeySequence>>> table = {
        {cmd::FileNew, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {cmd::FileOpen, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {cmd::FileSave, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {cmd::FilePrint, {QKeySequence(Qt::CTRL | Qt::Key_P)}},
        {cmd::EditCopy,
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {cmd::EditUndo,
         {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {cmd::EditCut,
         {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {cmd::EditPaste,
         {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {cmd::NextPane, {QKeySequence(Qt::Key_F6)}},
        {cmd::PrevPane, {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
    };
    // The actions stay enabled: a key of a command that is disabled at the
    // moment is taken and does nothing, rather than reaching the focused pane.
    for (const auto& [id, keys] : table) {
        auto* accelerator = new QAction(this);
        accelerator->setData(id);
        accelerator->setShortcuts(keys);
        accelerator->setShortcutContext(Qt::WindowShortcut);
        connect(accelerator, &QAction::triggered, this, [id = id] {
            if (GWApp* app = GWApp::Get()) app->ExecuteCommand(id);
        });
        addAction(accelerator);
        m_Accelerators.push_back(accelerator);
    }
}

// Ctrl+Tab and Ctrl+Shift+Tab go through every tab in its order; the
// documents' area on its own would only switch between the last two.
void CMainFrame::BuildTabKeys() {
    const std::pair<int, QKeySequence> keys[] = {
        {1, QKeySequence(Qt::CTRL | Qt::Key_Tab)},
        {-1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)},
        {-1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)},
    };
    for (const auto& [step, key] : keys) {
        auto* action = new QAction(this);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, step = step] { ActivateNextTab(step); });
        addAction(action);
    }
}

void CMainFrame::ActivateNextTab(int step) {
    const std::vector<Worksheet*> sheets = Worksheets();
    if (sheets.size() < 2) return;
    const auto at = std::find(sheets.begin(), sheets.end(), ActiveWorksheet());
    const auto count = static_cast<std::ptrdiff_t>(sheets.size());
    const std::ptrdiff_t index = at == sheets.end() ? 0 : at - sheets.begin();
    ActivateWorksheet(sheets[static_cast<size_t>((index + step + count) % count)]);
}

void CMainFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    // The message pane: prompts replace the idle text while they show.
    m_pIdlePane = new QLabel(QStringLiteral("Ready"), bar);
    bar->addWidget(m_pIdlePane, 1);
    bar->setSizeGripEnabled(true);
}

void CMainFrame::RegisterCommands() {
    OnCommand(cmd::ViewStatusBar, [this] { statusBar()->setHidden(!statusBar()->isHidden()); });
    OnUpdateCommand(cmd::ViewStatusBar,
                    [this](GWCmdUI& ui) { ui.SetCheck(!statusBar()->isHidden()); });

    OnCommand(cmd::ViewHistory, [this] { HistoryWindow::ShowWindow(this); });
    OnCommand(cmd::ViewServers, [this] { ServersWindow::ShowWindow(this); });
    OnCommand(cmd::ViewAllServers, [this] { AllServersWindow::ShowWindow(this); });
    OnCommand(cmd::ViewAlerts, [this] { AlertsWindow::ShowWindow(this); });

    OnCommand(cmd::WindowNew, [this] { OnNewWindow(); });
    OnUpdateCommand(cmd::WindowNew, [](GWCmdUI& ui) {
        GWApp* app = GWApp::Get();
        ui.Enable(app && app->GetActiveDocument());
    });
    const auto anyFrame = [this](GWCmdUI& ui) { ui.Enable(!Worksheets().empty()); };
    OnCommand(cmd::WindowCascade, [this] { MdiArea()->cascadeSubWindows(); });
    OnUpdateCommand(cmd::WindowCascade, anyFrame);
    OnCommand(cmd::WindowTile, [this] { MdiArea()->tileSubWindows(); });
    OnUpdateCommand(cmd::WindowTile, anyFrame);
    OnCommand(cmd::WindowArrange, [this] { ArrangeIcons(); });
    OnUpdateCommand(cmd::WindowArrange, anyFrame);
}

void CMainFrame::OnNewWindow() {
    GWApp* app = GWApp::Get();
    GWDocument* document = app ? app->GetActiveDocument() : nullptr;
    if (!document || !document->GetDocTemplate()) return;
    document->GetDocTemplate()->CreateNewFrame(document);
}

// Minimised frames line up along the bottom of the documents' area, left
// to right in the order they were opened.
void CMainFrame::ArrangeIcons() {
    const QRect area = MdiArea()->viewport()->rect();
    int left = 0;
    int bottom = area.bottom() + 1;
    for (Worksheet* sheet : Worksheets()) {
        if (!sheet->isMinimized()) continue;
        const QSize size = sheet->size();
        if (left > 0 && left + size.width() > area.width()) {
            left = 0;
            bottom -= size.height();
        }
        sheet->move(left, bottom - size.height());
        left += size.width();
    }
}

GWFrame* CMainFrame::GetActiveChildFrame() const {
    return dynamic_cast<GWFrame*>(ActiveWorksheet());
}

const std::vector<QAction*>& CMainFrame::MenuBarActions(int menuId) const {
    return menuId == 128 ? m_Menu128 : m_Menu129;
}

void CMainFrame::UpdateCommandStates() {
    ShowMenuSet(Worksheets().empty() ? m_Menu128 : m_Menu129);
    GWApp* app = GWApp::Get();
    if (!app) return;
    UpdateRecentItems(app->GetRecentFileList());
    for (QAction* action : m_CommandActions) {
        const GWCmdUI ui = app->UpdateCommand(action->data().toInt());
        action->setEnabled(ui.m_bEnabled);
        // A disabled item that can say why does so; the others show no tip.
        action->setToolTip(ui.m_ToolTip);
        // Only a checked item shows a mark, as in the menus of the original.
        action->setCheckable(ui.m_bChecked);
        action->setChecked(ui.m_bChecked);
    }
}

void CMainFrame::ShowMenuSet(const std::vector<QAction*>& set) {
    const QList<QAction*> onBar = menuBar()->actions();
    if (!onBar.isEmpty() && onBar.front() == set.front()) return;
    for (QAction* action : onBar) menuBar()->removeAction(action);
    for (QAction* action : set) menuBar()->addAction(action);
}

// "&1 /path/file.vgl" for each recent file; the places without one are hidden.
void CMainFrame::UpdateRecentItems(const QStringList& files) {
    for (size_t i = 0; i < m_RecentActions.size(); ++i) {
        QAction* action = m_RecentActions[i];
        const int place = static_cast<int>(i % 4);
        const bool shown = place < files.size();
        action->setVisible(shown);
        if (shown) {
            QString path = QDir::toNativeSeparators(files.at(place));
            path.replace('&', QStringLiteral("&&"));
            action->setText(QStringLiteral("&%1 %2").arg(place + 1).arg(path));
        }
    }
}

void CMainFrame::changeEvent(QEvent* event) {
    Workbook::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) RefreshAllDocuments();
    // The documents' area writes its own caption into this window's as a
    // frame is maximised or restored; the caption stays ours.
    if (event->type() == QEvent::WindowTitleChange) UpdateFrameTitle();
}

void CMainFrame::UpdateFrameTitle() {
    if (m_bSettingTitle) return;
    QString title = QStringLiteral("VGL");
    if (Worksheet* active = ActiveWorksheet()) {
        if (active->isMaximized()) {
            title += QStringLiteral(" - [%1]").arg(active->windowTitle());
        } else if (!active->TabLabel().isEmpty()) {
            title += QStringLiteral(" - ") + active->TabLabel();
        }
    }
    if (windowTitle() == title) return;
    m_bSettingTitle = true;
    setWindowTitle(title);
    m_bSettingTitle = false;
}

void CMainFrame::RefreshAllDocuments() {
    // A refresh that reports a lost server opens a message box, which changes
    // the activation again; that nested change need not poll a second time.
    if (!m_bRefreshing) {
        m_bRefreshing = true;
        if (GWWinApp* app = GWWinApp::Get()) app->ForEachDocument(&RefreshDocument, 0);
        m_bRefreshing = false;
    }
    SetWorkbookMode(true);
}

void CMainFrame::Quit() {
    m_bQuitting = true;
    close();
    m_bQuitting = false;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Closed by the user with the tray icon there to bring it back: the
    // sessions go on watching, out of sight.
    if (!m_bQuitting && ProfileSettings::CloseToTray() && QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
        event->ignore();
        return;
    }
    // Exit asks for each changed session first; a Cancel keeps everything open.
    if (GWApp* app = GWApp::Get()) {
        for (const auto& docTemplate : app->GetDocTemplates()) {
            for (GWDocument* document : docTemplate->GetDocuments()) {
                if (!document->SaveModified()) {
                    event->ignore();
                    return;
                }
            }
        }
    }
    if (GWApp* app = GWApp::Get()) {
        for (const auto& docTemplate : app->GetDocTemplates()) docTemplate->CloseAllDocuments();
    }
    m_pIdleTimer->stop();
    event->accept();
}

QString CMainFrame::TabLabelText(const QString& title) {
    // A session waiting to reconnect is named by its host as well.
    const QString disconnected = QStringLiteral("Disconnected from ");
    if (title.startsWith(disconnected) && title.size() > disconnected.size()) {
        return title.mid(disconnected.size());
    }
    const qsizetype dash = title.indexOf('-');
    if (dash <= 0) return title;
    const qsizetype keep = title.size() - dash - 3;
    return keep > 0 ? title.right(keep) : QString();
}

QString CMainFrame::FitTabLabel(QString text, const QFontMetrics& metrics, int width) {
    while (text.size() >= 4 && metrics.horizontalAdvance(text) > width) {
        text = text.left(text.size() - 4) + QStringLiteral("...");
    }
    return text;
}

void CMainFrame::DrawTab(QPainter& painter, Worksheet* sheet, const TabGeometry& geometry) {
    const QRect label = geometry.m_LabelRect;
    int iconSize = 0;
    const QIcon icon = TabIcon(sheet);
    if (!icon.isNull()) {
        iconSize = TabHeight() - 8;
        icon.paint(&painter, QRect(label.left(), label.top() + 4, iconSize, iconSize),
                   Qt::AlignCenter, QIcon::Normal);
    }
    const QRect textRect(label.left() + iconSize + 2, label.top(), label.width() - iconSize - 4,
                         label.height());
    painter.save();
    painter.setFont(TabFont());
    const QString text =
        FitTabLabel(TabLabelText(TabLabel(sheet)), painter.fontMetrics(), textRect.width());
    if (!text.isEmpty()) {
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
    painter.restore();
}
