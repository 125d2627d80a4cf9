#include "zadadir/GWWinApp.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>

#include "framework/Dialogs.h"
#include "framework/GWDocTemplate.h"
#include "framework/GWDocument.h"

GWWinApp::GWWinApp() = default;

GWWinApp::~GWWinApp() {
    for (int fd : m_LockFiles) ::close(fd);
}

GWWinApp* GWWinApp::Get() { return dynamic_cast<GWWinApp*>(GWApp::Get()); }

QString GWWinApp::LockDirectory() {
    const QString configured = qEnvironmentVariable("VGL_LOCK_DIR");
    if (!configured.isEmpty()) return configured;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) return runtime + QStringLiteral("/vgl");
    return QDir::tempPath() + QStringLiteral("/vgl-%1").arg(::getuid());
}

bool GWWinApp::StartupCheck() {
    const QString directory = LockDirectory();
    QDir().mkpath(directory);
    // Taking a free slot and holding it is one atomic step (flock), so two
    // instances started at the same moment cannot both pass the limit.
    bool anyOpened = false;
    for (uint32_t slot = 0; slot < m_MaxInstances; ++slot) {
        const QByteArray path =
            QStringLiteral("%1/instance-%2.lock").arg(directory).arg(slot).toLocal8Bit();
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        anyOpened = true;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_LockFiles.push_back(fd);
            return true;
        }
        ::close(fd);
    }
    // Without a usable lock folder the limit can't be enforced; refusing to
    // start would lock the user out for good.
    if (!anyOpened) return true;
    GWMessageBox(QStringLiteral("Maximum instances of this application are already running!"));
    return false;
}

void GWWinApp::ForEachDocument(DocumentFunction function, uintptr_t value) {
    for (const auto& docTemplate : GetDocTemplates()) {
        // A copy: the function may close a document.
        const std::vector<GWDocument*> documents = docTemplate->GetDocuments();
        for (GWDocument* document : documents) {
            if (!document) continue;
            if (function(document, value) == 0) break;
        }
    }
}
