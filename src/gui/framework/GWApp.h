#pragma once
// The framework's application object: its document templates in order, the
// main frame, the route of commands, the recent-file list in the profile and
// the printer that Print Setup configures. There is one per process.

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "gui/framework/CmdTarget.h"

class GWDocTemplate;
class GWDocument;
class GWMainFrame;
class GWTimer;
class GWView;
class QPrinter;

class GWApp : public GWCmdTarget {
public:
    GWApp();
    ~GWApp() override;
    GWApp(const GWApp&) = delete;
    GWApp& operator=(const GWApp&) = delete;

    static GWApp* Get();  // the one application object, or null

    void AddDocTemplate(std::unique_ptr<GWDocTemplate> docTemplate);
    const std::vector<std::unique_ptr<GWDocTemplate>>& GetDocTemplates() const {
        return m_DocTemplates;
    }

    void SetMainFrame(GWMainFrame* frame) { m_pMainFrame = frame; }
    GWMainFrame* GetMainFrame() const { return m_pMainFrame; }

    // The route: the active view, its document, the active document frame,
    // the main frame, the application.
    GWCmdRoute GetCommandRoute();
    GWView* GetActiveView() const;
    GWDocument* GetActiveDocument() const;
    bool ExecuteCommand(int id);
    GWCmdUI UpdateCommand(int id);

    // Standard file commands on the first template.
    GWDocument* OnFileNew();
    GWDocument* OnFileOpen();  // asks for a file
    GWDocument* OpenDocumentFile(const QString& path);

    // Recent files, kept in the profile (QSettings) with at most n entries.
    void LoadStdProfileSettings(int maxRecentFiles);
    void AddToRecentFileList(const QString& path);
    // Opens the recent file at this place of the list (the commands FileMru1 + index).
    GWDocument* OpenRecentFile(int index);
    static constexpr int MaxRecentCommands = 4;
    QStringList GetRecentFileList() const { return m_RecentFiles; }

    // The one application-wide timer that documents register with, if the
    // application keeps one.
    virtual GWTimer* GetTimer() { return nullptr; }

    QPrinter& GetPrinter();
    void OnFilePrintSetup();

private:
    void SaveRecentFileList() const;

    std::vector<std::unique_ptr<GWDocTemplate>> m_DocTemplates;
    GWMainFrame* m_pMainFrame = nullptr;
    QStringList m_RecentFiles;
    int m_nMaxRecentFiles = 0;
    std::unique_ptr<QPrinter> m_pPrinter;
};
