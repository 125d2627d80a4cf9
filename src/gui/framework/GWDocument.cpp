#include "gui/framework/GWDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "gui/framework/CommandIds.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWApp.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/framework/GWView.h"

GWDocument::GWDocument() {
    OnCommand(cmd::FileSave, [this] { DoFileSave(); });
    OnCommand(cmd::FileSaveAs, [this] { DoSaveAs(); });
}

GWDocument::~GWDocument() {
    for (GWView* view : m_Views) view->m_pDocument = nullptr;
    if (m_pDocTemplate) m_pDocTemplate->RemoveDocument(this);
}

void GWDocument::SetTitle(const QString& title) {
    if (title == m_Title) return;
    m_Title = title;
    emit titleChanged(m_Title);
}

void GWDocument::SetPathName(const QString& path) {
    m_PathName = path;
    SetTitle(QFileInfo(path).fileName());
    if (GWApp* app = GWApp::Get()) app->AddToRecentFileList(path);
}

void GWDocument::AddView(GWView* view) {
    if (!view || view->m_pDocument == this) return;
    if (view->m_pDocument) view->m_pDocument->RemoveView(view);
    m_Views.push_back(view);
    view->m_pDocument = this;
}

void GWDocument::RemoveView(GWView* view) {
    auto it = std::find(m_Views.begin(), m_Views.end(), view);
    if (it == m_Views.end()) return;
    m_Views.erase(it);
    view->m_pDocument = nullptr;
}

void GWDocument::UpdateAllViews(GWView* sender, intptr_t hint, QObject* hintObject) {
    // A copy: an update may open or close a view. A view closed by an
    // earlier one is no longer ours and is skipped.
    const std::vector<GWView*> views = m_Views;
    for (GWView* view : views) {
        if (view == sender || std::find(m_Views.begin(), m_Views.end(), view) == m_Views.end()) {
            continue;
        }
        view->OnUpdate(sender, hint, hintObject);
    }
}

bool GWDocument::OnNewDocument() {
    DeleteContents();
    m_PathName.clear();
    return true;
}

bool GWDocument::OnOpenDocument(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        GWMessageBox(QStringLiteral("Cannot open the file %1:\n%2")
                         .arg(QFileInfo(path).fileName(), file.errorString()));
        return false;
    }
    DeleteContents();
    Serialize(file, false);
    SetPathName(path);
    return true;
}

bool GWDocument::OnSaveDocument(const QString& path) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        Serialize(file, true);
        if (file.commit()) {
            SetPathName(path);
            return true;
        }
    }
    GWMessageBox(QStringLiteral("Cannot save the file %1:\n%2")
                     .arg(QFileInfo(path).fileName(), file.errorString()));
    return false;
}

bool GWDocument::DoFileSave() {
    if (m_PathName.isEmpty()) return DoSaveAs();
    return OnSaveDocument(m_PathName);
}

bool GWDocument::DoSaveAs() {
    QString filter;
    QString extension;
    if (m_pDocTemplate) {
        filter = m_pDocTemplate->GetFilterName();
        extension = m_pDocTemplate->GetFilterExtension();
    }
    QString suggested = m_PathName.isEmpty() ? SuggestedFileName() : m_PathName;
    if (!extension.isEmpty() && !suggested.endsWith(extension, Qt::CaseInsensitive)) {
        suggested += extension.toLower();
    }
    QString path = GWGetSaveFileName(nullptr, QStringLiteral("Save As"), filter, suggested);
    if (path.isEmpty()) return false;
    if (!extension.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += extension.toLower();
    return OnSaveDocument(path);
}

void GWDocument::OnCloseDocument() {
    emit aboutToClose();
    DeleteContents();
    delete this;
}

void GWDocument::DeleteContents() {}

void GWDocument::Serialize(QIODevice&, bool) {}
