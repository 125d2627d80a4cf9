#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "FrameworkFakes.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWDocTemplate.h"

namespace {

const char* const DocStrings = "\nVGL\nVGL\nVGL Files (*.vgl)\n.VGL\nVGL.Document\nVGL Document";

// An application with one template whose frames hold one view each; the
// newest frame is the active one. Message boxes and file choosers are
// answered by the test.
class DocumentTest : public ::testing::Test {
protected:
    DocumentTest() {
        m_App.SetMainFrame(&m_Main);
        QSettings().remove("Recent File List");  // left by an earlier run
        m_App.LoadStdProfileSettings(4);
        auto docTemplate = std::make_unique<GWDocTemplate>(
            DocStrings, [this]() -> GWDocument* { return new FakeDocument(&m_Log); });
        docTemplate->SetFrameFactory([this](GWDocument* document) {
            if (m_bRefuseFrames) return false;
            auto view = std::make_unique<FakeView>("view", &m_Log);
            document->AddView(view.get());
            view->OnInitialUpdate();
            m_Frame.m_pActiveView = view.get();
            m_Views.push_back(std::move(view));
            return true;
        });
        m_pTemplate = docTemplate.get();
        m_App.AddDocTemplate(std::move(docTemplate));
        m_Main.m_pChild = &m_Frame;
        SetMessageBoxHook([this](const QString& text) { m_Messages.push_back(text); });
        SetFileNameHook([this](bool save, const QString& suggested) {
            m_Suggested = suggested;
            m_bAskedToSave = save;
            return m_Answer;
        });
    }
    ~DocumentTest() override {
        SetMessageBoxHook(nullptr);
        SetFileNameHook(nullptr);
        m_Frame.m_pActiveView = nullptr;
        m_pTemplate->CloseAllDocuments();
        m_App.SetMainFrame(nullptr);
    }
    FakeDocument* Active() const { return dynamic_cast<FakeDocument*>(m_App.GetActiveDocument()); }

    Log m_Log;
    FakeApp m_App{&m_Log};
    FakeMainFrame m_Main{&m_Log};
    FakeFrame m_Frame{"frame", &m_Log};
    GWDocTemplate* m_pTemplate = nullptr;
    std::vector<std::unique_ptr<FakeView>> m_Views;
    bool m_bRefuseFrames = false;
    QStringList m_Messages;
    QString m_Answer;
    QString m_Suggested;
    bool m_bAskedToSave = false;
    QTemporaryDir m_Folder;
};

}  // namespace

TEST_F(DocumentTest, NewDocumentsAreNamedAndKeptInOrderWithTheirViewsUpdated) {
    ASSERT_TRUE(m_App.ExecuteCommand(cmd::FileNew));
    GWDocument* first = Active();
    ASSERT_TRUE(m_App.ExecuteCommand(cmd::FileNew));
    GWDocument* second = Active();
    EXPECT_EQ(first->GetTitle(), "VGL1");
    EXPECT_EQ(second->GetTitle(), "VGL2");
    EXPECT_EQ(m_pTemplate->GetDocuments(), (std::vector<GWDocument*>{first, second}));
    EXPECT_EQ(first->GetDocTemplate(), m_pTemplate);
    EXPECT_EQ(m_Views[0]->m_Updates.size(), 1u);  // the first update
    EXPECT_EQ(m_pTemplate->GetFilterName(), "VGL Files (*.vgl)");

    first->OnCloseDocument();
    EXPECT_EQ(m_pTemplate->GetDocuments(), std::vector<GWDocument*>{second});
    EXPECT_EQ(m_Views[0]->GetDocument(), nullptr);

    // A document whose frame can't be made is not kept.
    m_bRefuseFrames = true;
    EXPECT_EQ(m_App.OnFileNew(), nullptr);
    EXPECT_EQ(m_pTemplate->GetDocuments().size(), 1u);
}

TEST_F(DocumentTest, TemplatesAreKeptInOrder) {
    auto extra = std::make_unique<GWDocTemplate>("\nOther\nOther\n\n\n\n", nullptr);
    GWDocTemplate* other = extra.get();
    m_App.AddDocTemplate(std::move(extra));
    ASSERT_EQ(m_App.GetDocTemplates().size(), 2u);
    EXPECT_EQ(m_App.GetDocTemplates()[0].get(), m_pTemplate);
    EXPECT_EQ(m_App.GetDocTemplates()[1].get(), other);
    EXPECT_EQ(other->OpenDocumentFile(QString()), nullptr);  // it makes no documents
}

TEST_F(DocumentTest, SaveAndOpenGoThroughSerialize) {
    ASSERT_TRUE(m_App.ExecuteCommand(cmd::FileNew));
    FakeDocument* document = Active();
    document->m_Text = "session";

    m_Answer = m_Folder.filePath("monday");  // no extension: the template's is added
    m_Log.clear();
    ASSERT_TRUE(m_App.ExecuteCommand(cmd::FileSave));
    EXPECT_TRUE(m_bAskedToSave);
    EXPECT_EQ(m_Suggested, "VGL1.vgl");
    const QString path = m_Folder.filePath("monday.vgl");
    EXPECT_EQ(document->GetPathName(), path);
    EXPECT_EQ(document->GetTitle(), "monday.vgl");
    EXPECT_EQ(m_Log, Log{"store"});
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "session");

    // A second save goes to the same file without asking.
    m_Answer.clear();
    m_bAskedToSave = false;
    ASSERT_TRUE(m_App.ExecuteCommand(cmd::FileSave));
    EXPECT_FALSE(m_bAskedToSave);

    m_Answer = path;
    m_Log.clear();
    ASSERT_TRUE(m_App.ExecuteCommand(cmd::FileOpen));
    FakeDocument* opened = Active();
    ASSERT_NE(opened, document);
    EXPECT_EQ(m_Log, (Log{"DeleteContents", "load"}));
    EXPECT_EQ(opened->m_Text, "session");
    EXPECT_EQ(opened->GetTitle(), "monday.vgl");
    EXPECT_EQ(m_App.GetRecentFileList(), QStringList{path});
    EXPECT_TRUE(m_Messages.isEmpty());
}

TEST_F(DocumentTest, FilesThatCannotBeReadOrWrittenAreReportedNotCreated) {
    m_Answer = m_Folder.filePath("missing.vgl");
    EXPECT_TRUE(m_App.ExecuteCommand(cmd::FileOpen));  // carried out, but opens nothing
    EXPECT_TRUE(m_pTemplate->GetDocuments().empty());
    ASSERT_EQ(m_Messages.size(), 1);
    EXPECT_TRUE(m_Messages[0].contains("missing.vgl"));

    ASSERT_NE(m_App.OnFileNew(), nullptr);
    m_Answer = m_Folder.filePath("no/such/folder/x.vgl");
    EXPECT_FALSE(Active()->DoFileSave());
    EXPECT_EQ(m_Messages.size(), 2);
    EXPECT_TRUE(Active()->GetPathName().isEmpty());

    m_Answer.clear();  // the user cancels the file chooser
    EXPECT_FALSE(Active()->DoSaveAs());
    EXPECT_EQ(m_Messages.size(), 2);
}

TEST_F(DocumentTest, RecentFilesKeepTheNewestFour) {
    for (const char* name : {"a", "b", "c", "d", "e", "b"}) {
        m_App.AddToRecentFileList(QStringLiteral("/tmp/%1.vgl").arg(name));
    }
    EXPECT_EQ(m_App.GetRecentFileList(),
              QStringList({"/tmp/b.vgl", "/tmp/e.vgl", "/tmp/d.vgl", "/tmp/c.vgl"}));
    FakeApp later(&m_Log);  // the profile keeps them for the next start
    later.LoadStdProfileSettings(4);
    EXPECT_EQ(later.GetRecentFileList(), m_App.GetRecentFileList());
}
