#pragma once
// Makes documents of one kind with their frames and views, and keeps its
// documents in order of creation. The strings are those of the document
// resource: "\nName\nFileNewName\nFilter\n.ext\nFileType\nFileTypeName".

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class GWDocument;

class GWDocTemplate {
public:
    using DocumentFactory = std::function<GWDocument*()>;
    // Builds the frame with its views for a document and shows it; returns
    // false when it could not be built. Without one, documents get no frame
    // (tests build their views themselves).
    using FrameFactory = std::function<bool(GWDocument* document)>;

    GWDocTemplate(const QString& strings, DocumentFactory makeDocument);
    ~GWDocTemplate();
    GWDocTemplate(const GWDocTemplate&) = delete;
    GWDocTemplate& operator=(const GWDocTemplate&) = delete;

    void SetFrameFactory(FrameFactory makeFrame) { m_MakeFrame = std::move(makeFrame); }

    // A new document (empty path) or the document of a file, with its frame
    // and views after their first update; null on failure.
    GWDocument* OpenDocumentFile(const QString& path);
    // Another frame on an existing document (the New Window command).
    bool CreateNewFrame(GWDocument* document);
    void AddDocument(GWDocument* document);
    void RemoveDocument(GWDocument* document);
    const std::vector<GWDocument*>& GetDocuments() const { return m_Documents; }
    void CloseAllDocuments();

    QString GetDocString(int index) const;  // 0 window title, 1 name, 2 file-new name, 3 filter, ...
    QString GetFilterName() const;          // "VGL Files (*.vgl)"
    QString GetFilterExtension() const;     // ".VGL"

private:
    QStringList m_Strings;
    DocumentFactory m_MakeDocument;
    FrameFactory m_MakeFrame;
    std::vector<GWDocument*> m_Documents;
    int m_nUntitledCount = 0;
};
