#pragma once
// The tray icon: its colour says how the fleet is (green: every session
// connected; amber: some reconnecting; red: one lost, or an alert not yet
// seen; grey: no session), its menu shows the window, pauses the
// notifications or quits, and it shows the alerts that the desktop's
// notification service could not.

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

class FleetTray : public QObject {
    Q_OBJECT
public:
    enum State { NoSession, AllConnected, Reconnecting, Trouble };

    // `window` is shown again from the tray; `quit` ends the program.
    FleetTray(QWidget* window, std::function<void()> quit, QObject* parent = nullptr);
    ~FleetTray() override;

    State CurrentState() const { return m_State; }
    QSystemTrayIcon* Icon() const { return m_pIcon; }
    QMenu* Menu() const { return m_pMenu; }
    QAction* PauseAction() const { return m_pPause; }
    // The fleet's state now, from the sessions and the unread alerts.
    static State StateNow();
    void ShowMessage(const QString& title, const QString& body);

private:
    void Update();
    void ShowWindow();

    QWidget* m_pWindow;
    QSystemTrayIcon* m_pIcon = nullptr;
    QMenu* m_pMenu = nullptr;
    QAction* m_pPause = nullptr;
    State m_State = NoSession;
};
