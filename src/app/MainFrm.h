#pragma once
// The main window: a tabbed multiple-document frame with one tab per session
// frame, the menu bar (menu 128 while no document is open, menu 129 while
// one is), the accelerator table and a status bar with the message pane
// only. Every activation change of the window refreshes every session.

#include <QString>
#include <QStringList>
#include <vector>

#include "gui/framework/GWFrame.h"
#include "gui/toolkit/Workbook.h"

class QAction;
class QFontMetrics;
class QKeyEvent;
class QLabel;
class QMenu;
class QTimer;

class CMainFrame : public Workbook, public GWMainFrame {
    Q_OBJECT
public:
    static constexpr int MinimumWidth = 400;
    static constexpr int MinimumHeight = 450;

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    GWFrame* GetActiveChildFrame() const override;
    void UpdateCommandStates() override;

    // The tab label of a document title: a title whose first "-" stands
    // after its first character keeps only what follows that "-" and the
    // two characters after it, so "Connected to Socks5 server -- host"
    // becomes "host"; "Disconnected from host" becomes "host" as well; other
    // titles are kept whole.
    static QString TabLabelText(const QString& title);
    // Shortens a label that is wider than `width` four characters at a time
    // to "...", down to "..." itself.
    static QString FitTabLabel(QString text, const QFontMetrics& metrics, int width);

    // The actions of the menu bar for menu 128 or 129: one per menu, plus the
    // bar's own commands; only the set in use is on the bar. Each command action carries its id as data().
    const std::vector<QAction*>& MenuBarActions(int menuId) const;
    // The accelerator table: one action per command, with all its keys.
    const std::vector<QAction*>& Accelerators() const { return m_Accelerators; }
    QLabel* IdlePane() const { return m_pIdlePane; }

    // Closes the window and ends the program, even where closing it would
    // only hide it in the tray.
    void Quit();

    // Refreshes every open session (the activation handler).
    void RefreshAllDocuments();

    // The caption names the active session: "VGL - [frame caption]" while
    // the frames are maximised, "VGL - session title" while they are not,
    // "VGL" without a frame.
    void UpdateFrameTitle();

protected:
    void DrawTab(QPainter& painter, Worksheet* sheet, const TabGeometry& geometry) override;
    void ActiveWorksheetChanged() override { UpdateFrameTitle(); }
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct MenuItem {
        const char* m_Text;
        int m_Id;  // 0: a separator
    };
    struct Menu {
        const char* m_Title;
        int m_Id;  // a command on the menu bar itself; 0 for a drop-down menu
        std::vector<MenuItem> m_Items;
    };

    void FitFirstSize();
    void BuildMenus();
    static std::vector<MenuItem> WithRecentAndExit(std::vector<MenuItem> items);
    static std::vector<Menu> Menus128();
    static std::vector<Menu> Menus129();
    std::vector<QAction*> BuildMenuBar(const std::vector<Menu>& menus);
    QAction* MakeCommandAction(const QString& text, int id, QObject* parent);
    void AddGroupByMenu(QMenu* view);
    void BuildAccelerators();
    void BuildTabKeys();
    void ActivateNextTab(int step);
    void ShowMenuSet(const std::vector<QAction*>& set);
    QAction* BarCommandOfKey(const QKeyEvent& event) const;
    void UpdateRecentItems(const QStringList& files);
    void BuildStatusBar();
    void RegisterCommands();
    void OnNewWindow();
    void ArrangeIcons();

    std::vector<QAction*> m_Menu128;
    std::vector<QAction*> m_Menu129;
    std::vector<QAction*> m_CommandActions;
    std::vector<QAction*> m_RecentActions;  // the recent files' places, 4 per Socks5 menu
    std::vector<QAction*> m_Accelerators;
    QLabel* m_pIdlePane = nullptr;
    QTimer* m_pIdleTimer = nullptr;
    bool m_bRefreshing = false;
    bool m_bSettingTitle = false;
    bool m_bQuitting = false;
};
