#pragma once
// The alerts of every open session: the user's rules applied to each poll
// and to each loss of a monitor, the firings listed (newest last), each kept
// as an event in the history and told on the desktop unless notifications
// are paused. One per program.

#include <QObject>
#include <QPointer>
#include <deque>
#include <map>
#include <vector>

#include "core/alert/AlertEngine.h"

class CVGLDoc;
class DesktopNotifier;

class FleetAlerts : public QObject {
    Q_OBJECT
public:
    static constexpr size_t MaxListed = 1000;

    static FleetAlerts& Get();

    // The rules and the quiet interval, as the profile keeps them.
    void LoadSettings();
    void SetRules(std::vector<AlertRule> rules, int quietMinutes);
    const std::vector<AlertRule>& Rules() const { return m_Engine.Rules(); }
    int QuietMinutes() const { return static_cast<int>(m_Engine.QuietSeconds() / 60); }

    // Where desktop notices go; null: nowhere (the list still gets them).
    void SetNotifier(DesktopNotifier* notifier);
    void SetPaused(bool paused);
    bool IsPaused() const { return m_bPaused; }

    const std::deque<AlertFiring>& Firings() const { return m_Firings; }
    int Unread() const { return m_Unread; }
    void MarkRead();

signals:
    void fired(const AlertFiring& firing);
    void unreadChanged();
    void pausedChanged();

private:
    FleetAlerts();
    void SessionsChanged();
    void SessionChanged(CVGLDoc* session);
    void SessionPolled(CVGLDoc* session);
    void Take(CVGLDoc* session, std::vector<AlertFiring> firings);
    void GiveFilters(CVGLDoc* session) const;

    AlertEngine m_Engine;
    QPointer<DesktopNotifier> m_pNotifier;
    bool m_bPaused = false;
    std::deque<AlertFiring> m_Firings;
    int m_Unread = 0;
    std::map<CVGLDoc*, bool> m_Lost;  // the loss each session was last seen in
};
