#include "app/GWWinApp.h"

#include "app/InstanceLock.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/framework/GWDocument.h"

GWWinApp::GWWinApp() = default;

GWWinApp::~GWWinApp() = default;

GWWinApp* GWWinApp::Get() {
    return dynamic_cast<GWWinApp*>(GWApp::Get());
}

bool GWWinApp::StartupCheck() {
    auto lock = std::make_unique<InstanceLock>();
    switch (lock->Acquire(m_MaxInstances, m_HandOverArguments)) {
        case InstanceLock::Outcome::Running:
            QObject::connect(lock.get(), &InstanceLock::HandOver,
                             [this](const QStringList& arguments) { OnHandOver(arguments); });
            m_pInstanceLock = std::move(lock);
            return true;
        case InstanceLock::Outcome::HandedOver:
            m_bHandedOver = true;
            return false;
        case InstanceLock::Outcome::LimitReached:
            GWMessageBox(
                QStringLiteral("Maximum instances of this application are already running!"));
            return false;
        case InstanceLock::Outcome::UnsafeFolder:
            GWMessageBox(lock->Problem());
            return false;
    }
    return false;
}

QString GWWinApp::HandOverServerName() const {
    return m_pInstanceLock ? m_pInstanceLock->ServerName() : QString();
}

void GWWinApp::OnHandOver(const QStringList&) {}

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
