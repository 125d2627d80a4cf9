#pragma once
// Every open session, in the order they were opened, for the windows that
// look across the fleet (the Servers view, the grid of all servers, the
// alerts). Each session adds itself when it is made and leaves when it is
// destroyed; the list tells of that, and of each poll a session applied or a
// change of its state, so that those windows never poll on their own.

#include <QObject>
#include <vector>

class CVGLDoc;

class SessionList : public QObject {
    Q_OBJECT
public:
    static SessionList& Get();

    const std::vector<CVGLDoc*>& Sessions() const { return m_Sessions; }

    void Add(CVGLDoc* session);
    void Remove(CVGLDoc* session);
    void Polled(CVGLDoc* session) { emit sessionPolled(session); }
    void Changed(CVGLDoc* session) { emit sessionChanged(session); }

signals:
    void sessionsChanged();  // one was opened or closed
    // The session applied a poll to its table (its rows, totals and rates are new).
    void sessionPolled(CVGLDoc* session);
    // Its state or status changed: connected, reconnecting, lost, disconnected.
    void sessionChanged(CVGLDoc* session);

private:
    std::vector<CVGLDoc*> m_Sessions;
};
