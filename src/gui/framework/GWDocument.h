#pragma once
// A document: the data of one session with its views. The framework creates
// it through its template, names it, updates its views, and runs the file
// commands (new, open, save) through Serialize.

#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

#include "gui/framework/CmdTarget.h"

class GWDocTemplate;
class GWView;
class QIODevice;

class GWDocument : public QObject, public GWCmdTarget {
    Q_OBJECT
public:
    GWDocument();
    ~GWDocument() override;

    const QString& GetTitle() const { return m_Title; }
    virtual void SetTitle(const QString& title);
    const QString& GetPathName() const { return m_PathName; }
    void SetPathName(const QString& path);  // also takes the file's name as the title
    GWDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    void AddView(GWView* view);
    void RemoveView(GWView* view);
    const std::vector<GWView*>& GetViews() const { return m_Views; }
    template <class View>
    View* FindView() const {
        for (GWView* view : m_Views) {
            if (auto* found = dynamic_cast<View*>(view)) return found;
        }
        return nullptr;
    }
    void UpdateAllViews(GWView* sender, intptr_t hint = 0, QObject* hintObject = nullptr);

    // File commands. New and Open empty the document first (DeleteContents).
    // Open and Save report a file that can't be read or written in a message
    // box and return false.
    virtual bool OnNewDocument();
    virtual bool OnOpenDocument(const QString& path);
    virtual bool OnSaveDocument(const QString& path);
    // Save (Ctrl+S): to the document's file, or through Save As when it has none.
    bool DoFileSave();
    bool DoSaveAs();
    // The name Save As offers for a document without a file (the title unless
    // the document knows a better one).
    virtual QString SuggestedFileName() const { return m_Title; }
    // Closes the document: its frames close, DeleteContents runs, and the
    // document leaves its template and is destroyed. Do not touch it afterwards.
    virtual void OnCloseDocument();
    // Before the document is closed by the user: false stops the close (a
    // document may ask whether to save its changes first).
    virtual bool SaveModified() { return true; }

    virtual void DeleteContents();
    virtual void Serialize(QIODevice& file, bool storing);

signals:
    void titleChanged(const QString& title);
    void aboutToClose();  // frames showing the document close on this

private:
    friend class GWDocTemplate;
    QString m_Title;
    QString m_PathName;
    GWDocTemplate* m_pDocTemplate = nullptr;
    std::vector<GWView*> m_Views;
};
