#include "gui/session/SessionList.h"

#include <algorithm>

SessionList& SessionList::Get() {
    static SessionList list;
    return list;
}

void SessionList::Add(CVGLDoc* session) {
    m_Sessions.push_back(session);
    emit sessionsChanged();
}

void SessionList::Remove(CVGLDoc* session) {
    const auto at = std::find(m_Sessions.begin(), m_Sessions.end(), session);
    if (at == m_Sessions.end()) return;
    m_Sessions.erase(at);
    emit sessionsChanged();
}
