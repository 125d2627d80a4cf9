#include "gui/framework/GWDocTemplate.h"

#include <algorithm>

#include "gui/framework/GWDocument.h"
#include "gui/framework/GWView.h"

GWDocTemplate::GWDocTemplate(const QString& strings, DocumentFactory makeDocument)
    : m_Strings(strings.split('\n')), m_MakeDocument(std::move(makeDocument)) {}

GWDocTemplate::~GWDocTemplate() { CloseAllDocuments(); }

QString GWDocTemplate::GetDocString(int index) const {
    return index >= 0 && index < m_Strings.size() ? m_Strings[index] : QString();
}

QString GWDocTemplate::GetFilterName() const { return GetDocString(3); }

QString GWDocTemplate::GetFilterExtension() const { return GetDocString(4); }

GWDocument* GWDocTemplate::OpenDocumentFile(const QString& path) {
    GWDocument* document = m_MakeDocument ? m_MakeDocument() : nullptr;
    if (!document) return nullptr;
    AddDocument(document);
    if (path.isEmpty()) {
        // New documents are named after the template: "VGL1", "VGL2", ...
        document->SetTitle(GetDocString(2) + QString::number(++m_nUntitledCount));
        if (!document->OnNewDocument()) {
            delete document;
            return nullptr;
        }
    } else if (!document->OnOpenDocument(path)) {
        delete document;
        return nullptr;
    }
    if (!CreateNewFrame(document)) {
        delete document;
        return nullptr;
    }
    return document;
}

bool GWDocTemplate::CreateNewFrame(GWDocument* document) {
    if (!m_MakeFrame) return true;
    return m_MakeFrame(document);
}

void GWDocTemplate::AddDocument(GWDocument* document) {
    if (std::find(m_Documents.begin(), m_Documents.end(), document) != m_Documents.end()) return;
    m_Documents.push_back(document);
    document->m_pDocTemplate = this;
}

void GWDocTemplate::RemoveDocument(GWDocument* document) {
    auto it = std::find(m_Documents.begin(), m_Documents.end(), document);
    if (it == m_Documents.end()) return;
    m_Documents.erase(it);
    document->m_pDocTemplate = nullptr;
}

void GWDocTemplate::CloseAllDocuments() {
    while (!m_Documents.empty()) m_Documents.back()->OnCloseDocument();
}
