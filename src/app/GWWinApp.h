#pragma once
// The application base of the maker's library: the framework's application
// plus a limit on running instances, the one application-wide timer object,
// and a walk over all open documents.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

#include "core/base/GWTimer.h"
#include "gui/framework/GWApp.h"

class GWDocument;
class InstanceLock;

class GWWinApp : public GWApp {
public:
    GWWinApp();
    ~GWWinApp() override;

    static GWWinApp* Get();  // the application object as a GWWinApp, or null

    // Enforces m_MaxInstances with per-user lock files in the user's private
    // runtime folder; the lock of an instance that has ended is taken over.
    // When all are taken, m_HandOverArguments (if any) go to a running
    // instance and HandedOver() becomes true; otherwise the message "Maximum
    // instances of this application are already running!" shows. A runtime
    // folder that is not the user's own is refused with a message. Returns
    // true when this process is to run.
    bool StartupCheck();
    bool HandedOver() const { return m_bHandedOver; }
    QString HandOverServerName() const;  // where this instance listens; empty if nowhere

    // What a running instance receives from a later start: the arguments
    // that were in m_HandOverArguments there.
    virtual void OnHandOver(const QStringList& arguments);

    using DocumentFunction = int (*)(GWDocument* document, uintptr_t value);
    void ForEachDocument(DocumentFunction function, uintptr_t value);

    GWTimer* GetTimer() override { return &m_Timer; }

    uint32_t m_MaxInstances = 5;
    QStringList m_HandOverArguments;
    GWTimer m_Timer;

private:
    std::unique_ptr<InstanceLock> m_pInstanceLock;
    bool m_bHandedOver = false;
};
