#pragma once
// The application base of the maker's library: the framework's application
// plus a limit on running instances, the one application-wide timer object,
// and a walk over all open documents.

#include <QString>
#include <cstdint>
#include <vector>

#include "framework/GWApp.h"
#include "zadadir/GWTimer.h"

class GWDocument;

class GWWinApp : public GWApp {
public:
    GWWinApp();
    ~GWWinApp() override;

    static GWWinApp* Get();  // the application object as a GWWinApp, or null

    // Enforces m_MaxInstances with per-user lock files that the system
    // releases when a process ends. Shows "Maximum instances of this
    // application are already running!" and returns false when all are taken.
    bool StartupCheck();
    // Where the lock files live: $VGL_LOCK_DIR, else $XDG_RUNTIME_DIR/vgl,
    // else the temporary folder with the user id in the name.
    static QString LockDirectory();

    using DocumentFunction = int (*)(GWDocument* document, uintptr_t value);
    void ForEachDocument(DocumentFunction function, uintptr_t value);

    uint32_t m_MaxInstances = 5;
    GWTimer m_Timer;

private:
    std::vector<int> m_LockFiles;  // open descriptors that hold the instance locks
};
