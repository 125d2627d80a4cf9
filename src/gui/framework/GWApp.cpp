#include "gui/framework/GWApp.h"

#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrinter>

#include "gui/framework/CommandIds.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/framework/GWDocument.h"
#include "gui/framework/GWFrame.h"
#include "gui/framework/GWView.h"
#include "gui/framework/ProfileSettings.h"

namespace {
GWApp* g_pApp = nullptr;
}  // namespace

GWApp::GWApp() {
    g_pApp = this;
    OnCommand(cmd::FileNew, [this] { OnFileNew(); });
    OnCommand(cmd::FileOpen, [this] { OnFileOpen(); });
    OnCommand(cmd::FilePrintSetup, [this] { OnFilePrintSetup(); });
    for (int i = 0; i < MaxRecentCommands; ++i) {
        OnCommand(cmd::FileMru1 + i, [this, i] { OpenRecentFile(i); });
        OnUpdateCommand(cmd::FileMru1 + i,
                        [this, i](GWCmdUI& ui) { ui.Enable(i < m_RecentFiles.size()); });
    }
}

// A recent file that can no longer be opened leaves the list.
GWDocument* GWApp::OpenRecentFile(int index) {
    if (index < 0 || index >= m_RecentFiles.size()) return nullptr;
    const QString path = m_RecentFiles.at(index);
    GWDocument* document = OpenDocumentFile(path);
    if (!document && !QFileInfo::exists(path)) {
        m_RecentFiles.removeAll(path);
        SaveRecentFileList();
    }
    return document;
}

GWApp::~GWApp() {
    m_DocTemplates.clear();  // closes their documents while the application still exists
    if (g_pApp == this) g_pApp = nullptr;
}

GWApp* GWApp::Get() { return g_pApp; }

void GWApp::AddDocTemplate(std::unique_ptr<GWDocTemplate> docTemplate) {
    m_DocTemplates.push_back(std::move(docTemplate));
}

GWView* GWApp::GetActiveView() const {
    return m_pMainFrame ? m_pMainFrame->GetActiveView() : nullptr;
}

GWDocument* GWApp::GetActiveDocument() const {
    GWView* view = GetActiveView();
    return view ? view->GetDocument() : nullptr;
}

GWCmdRoute GWApp::GetCommandRoute() {
    GWView* view = GetActiveView();
    GWFrame* child = m_pMainFrame ? m_pMainFrame->GetActiveChildFrame() : nullptr;
    return {view, view ? view->GetDocument() : nullptr, child, m_pMainFrame, this};
}

bool GWApp::ExecuteCommand(int id) {
    const bool done = GWRouteCommand(GetCommandRoute(), id);
    if (m_pMainFrame) m_pMainFrame->UpdateCommandStates();
    return done;
}

GWCmdUI GWApp::UpdateCommand(int id) { return GWUpdateCommand(GetCommandRoute(), id); }

GWDocument* GWApp::OnFileNew() {
    if (m_DocTemplates.empty()) return nullptr;
    return m_DocTemplates.front()->OpenDocumentFile(QString());
}

GWDocument* GWApp::OnFileOpen() {
    if (m_DocTemplates.empty()) return nullptr;
    const QString filter = m_DocTemplates.front()->GetFilterName();
    const QString path = GWGetOpenFileName(nullptr, QStringLiteral("Open"), filter);
    if (path.isEmpty()) return nullptr;
    return OpenDocumentFile(path);
}

GWDocument* GWApp::OpenDocumentFile(const QString& path) {
    if (m_DocTemplates.empty()) return nullptr;
    return m_DocTemplates.front()->OpenDocumentFile(QFileInfo(path).absoluteFilePath());
}

void GWApp::LoadStdProfileSettings(int maxRecentFiles) {
    m_nMaxRecentFiles = maxRecentFiles;
    m_RecentFiles = ProfileSettings::RecentFiles();
    while (m_RecentFiles.size() > m_nMaxRecentFiles) m_RecentFiles.removeLast();
}

void GWApp::AddToRecentFileList(const QString& path) {
    if (m_nMaxRecentFiles <= 0 || path.isEmpty()) return;
    m_RecentFiles.removeAll(path);
    m_RecentFiles.prepend(path);
    while (m_RecentFiles.size() > m_nMaxRecentFiles) m_RecentFiles.removeLast();
    SaveRecentFileList();
}

void GWApp::SaveRecentFileList() const {
    ProfileSettings::SetRecentFiles(m_RecentFiles);
}

QPrinter& GWApp::GetPrinter() {
    if (!m_pPrinter) m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_pPrinter;
}

void GWApp::OnFilePrintSetup() {
    QPageSetupDialog dialog(&GetPrinter());
    GWExecDialog(dialog);
}
