#include "gui/fleet/FleetAlerts.h"

#include "gui/fleet/AlertRulesJson.h"
#include "gui/fleet/DesktopNotifier.h"
#include "gui/framework/ProfileSettings.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionList.h"

FleetAlerts& FleetAlerts::Get() {
    static FleetAlerts* alerts = new FleetAlerts();  // lives as long as the sessions' list
    return *alerts;
}

FleetAlerts::FleetAlerts() {
    SessionList& sessions = SessionList::Get();
    connect(&sessions, &SessionList::sessionsChanged, this, &FleetAlerts::SessionsChanged);
    connect(&sessions, &SessionList::sessionChanged, this, &FleetAlerts::SessionChanged);
    connect(&sessions, &SessionList::sessionPolled, this, &FleetAlerts::SessionPolled);
    m_Engine.SetRules(DefaultAlertRules());
    SessionsChanged();  // those opened before the alerts were first asked for
}

void FleetAlerts::LoadSettings() {
    SetRules(SavedAlertRules(), ProfileSettings::AlertQuietMinutes());
}

void FleetAlerts::SetRules(std::vector<AlertRule> rules, int quietMinutes) {
    m_Engine.SetRules(std::move(rules));
    m_Engine.SetQuietSeconds(int64_t{std::max(1, quietMinutes)} * 60);
    for (CVGLDoc* session : SessionList::Get().Sessions()) GiveFilters(session);
}

void FleetAlerts::GiveFilters(CVGLDoc* session) const {
    session->SetAlertFilters(m_Engine.FilterLines());
    session->Activity().SetCountUsers(m_Engine.CountsUsers());
}

void FleetAlerts::SetNotifier(DesktopNotifier* notifier) {
    m_pNotifier = notifier;
}

void FleetAlerts::SetPaused(bool paused) {
    if (paused == m_bPaused) return;
    m_bPaused = paused;
    emit pausedChanged();
}

void FleetAlerts::MarkRead() {
    if (m_Unread == 0) return;
    m_Unread = 0;
    emit unreadChanged();
}

void FleetAlerts::SessionsChanged() {
    const std::vector<CVGLDoc*>& sessions = SessionList::Get().Sessions();
    for (auto at = m_Lost.begin(); at != m_Lost.end();) {
        const bool open = std::find(sessions.begin(), sessions.end(), at->first) != sessions.end();
        at = open ? std::next(at) : m_Lost.erase(at);
    }
    for (CVGLDoc* session : sessions) {
        if (m_Lost.emplace(session, session->IsLost()).second) GiveFilters(session);
    }
}

void FleetAlerts::SessionChanged(CVGLDoc* session) {
    const auto known = m_Lost.find(session);
    if (known == m_Lost.end()) return;
    const bool lost = session->IsLost();
    const bool wasLost = known->second;
    known->second = lost;
    const std::string server = session->ServerName().toStdString();
    if (lost && !wasLost) {
        Take(session, m_Engine.ServerLost(server, session->GetTable().LastErrorText(),
                                          session->StateSince()));
    } else if (wasLost && !lost && session->GetTable().IsConnected()) {
        Take(session, m_Engine.ServerBack(server, session->StateSince()));
    }
}

void FleetAlerts::SessionPolled(CVGLDoc* session) {
    Take(session, m_Engine.Polled(session->ServerName().toStdString(), session->LastActivity()));
}

void FleetAlerts::Take(CVGLDoc* session, std::vector<AlertFiring> firings) {
    for (AlertFiring& firing : firings) {
        session->RecordAlert(firing.m_Rule + ": " + firing.m_What);
        if (!m_bPaused && m_pNotifier) {
            m_pNotifier->Notify(
                QStringLiteral("%1 — %2").arg(QString::fromStdString(firing.m_Rule),
                                              QString::fromStdString(firing.m_Server)),
                QString::fromStdString(firing.m_What));
        }
        m_Firings.push_back(std::move(firing));
        if (m_Firings.size() > MaxListed) m_Firings.pop_front();
        ++m_Unread;
        emit fired(m_Firings.back());
    }
    if (!firings.empty()) emit unreadChanged();
}
