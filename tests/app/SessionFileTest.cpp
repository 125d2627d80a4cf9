// What a session keeps: its document (saved, closed and opened again, with
// the question on closing a changed one) and the options a user applied,
// which outlive the application object.

#include <QFile>
#include <QMessageBox>
#include <QTest>

#include "app/FramesFixture.h"
#include "gui/framework/CommandIds.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridView.h"
#include "gui/options/OptionDataDlg.h"
#include "gui/options/OptionPPT.h"
#include "gui/session/SessionSettings.h"
#include "support/FakeMonitor.h"

namespace {

class SessionFileTest : public FramesTest {
protected:
    SessionFileTest() {
        SetFileNameHook([this](bool, const QString& suggested) {
            m_Suggested = suggested;
            return m_SavePath;
        });
    }
    ~SessionFileTest() override { SetFileNameHook(nullptr); }

    // Answers the save question with this button and counts it.
    void AnswerSaveQuestionWith(QMessageBox::StandardButton button) {
        m_OtherDialog = [this, button](QDialog& dialog) {
            auto* box = dynamic_cast<QMessageBox*>(&dialog);
            if (!box) return int(QDialog::Rejected);
            m_Questions << box->text();
            box->button(button)->click();
            return box->result();
        };
    }

    // Every setting a document keeps, changed from the described ones.
    static void ChangeEverySetting(CVGLDoc& document) {
        document.SetUpdatePeriod(30);
        document.m_Table.SetDisplayOptions(0, 2);
        document.m_Table.SetConnectionLimit(2000);
        document.SetFilterText("user:\"Åsa M\" -dest:10.0.0.0/8");
        document.SetGrouping(GroupBy::Destination);
        GridView* grid = document.GetGridView();
        std::swap(grid->m_ColumnInfo[0], grid->m_ColumnInfo[4]);
        grid->m_ColumnInfo[2].m_bHidden = 1;
        grid->m_ColumnInfo[6].m_bAscending = 1;
        grid->ApplyColumnVisibility();
        grid->SetFrozenColumns(2);
        grid->SortByColumn(6);
        GraphView::MergeIntoMasterMap(
            {{"devserver", ServiceRecord{"devserver", 1, 8000, 0x00A0B0, LineDashDot}}});
        document.GetGraphView()->SetServiceList({"devserver", "www"});
    }

    QTemporaryDir m_Folder;
    QString m_SavePath;
    QString m_Suggested;
    QStringList m_Questions;
};

TEST_F(SessionFileTest, SavedCloseAndOpenedAgainGetsEverySettingBackAndConnects) {
    FakeMonitor monitor;
    VGLCommandLine commandLine;
    commandLine.m_ConnectHosts << QString::fromStdString(monitor.Host());
    ASSERT_TRUE(Start(commandLine));
    Settle();
    ASSERT_TRUE(SettleAll());
    CVGLDoc* document = Documents().front();
    ASSERT_EQ(document->m_bDisconnected, 0);
    ChangeEverySetting(*document);
    const QByteArray before = SessionSettings::Capture(*document).ToJson();

    m_SavePath = m_Folder.filePath("watch.vgl");
    ASSERT_TRUE(Run(cmd::FileSave));
    EXPECT_EQ(m_Suggested, QString::fromStdString(monitor.Host()) + ".vgl");
    // Saved, the window still says the server and the state; the tab names the server.
    const QString host = QString::fromStdString(monitor.Host());
    EXPECT_EQ(ActiveFrame()->windowTitle(), "watch.vgl - Connected to Socks5 server -- " + host);
    EXPECT_EQ(CMainFrame::TabLabelText(Main().TabLabel(ActiveFrame())), host);
    QFile saved(m_SavePath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().startsWith("{\n    \"VGLSession\": 1,"));  // what the MIME magic sees

    ActiveFrame()->close();  // saved, so nothing to ask
    Settle();
    EXPECT_EQ(m_nOtherDialogs, 0);
    ASSERT_TRUE(Documents().empty());

    auto* opened = dynamic_cast<CVGLDoc*>(m_pApp->OpenDocumentFile(m_SavePath));
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(SettleAll());
    EXPECT_EQ(opened->m_bDisconnected, 0) << "a document that names its server connects to it";
    EXPECT_EQ(SessionSettings::Capture(*opened).ToJson(), before);
    EXPECT_EQ(opened->m_UpdatePeriod, 30);
    EXPECT_EQ(opened->GetGraphView()->GetServiceList(),
              (std::vector<std::string>{"devserver", "www", "Others"}));
    EXPECT_FALSE(opened->IsModified());
}

TEST_F(SessionFileTest, AChangedDocumentAsksToSaveOnCloseAndOnExit) {
    m_SavePath = m_Folder.filePath("night.vgl");
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Run(cmd::FileSave));
    CVGLDoc* document = Documents().front();
    document->SetUpdatePeriod(90);
    ASSERT_TRUE(document->IsModified());

    AnswerSaveQuestionWith(QMessageBox::Cancel);
    ActiveFrame()->close();
    Settle();
    EXPECT_EQ(m_Questions, QStringList{"Save changes to night.vgl?"});
    ASSERT_EQ(Documents().size(), 1u) << "Cancel keeps the session open";

    AnswerSaveQuestionWith(QMessageBox::Yes);
    ASSERT_TRUE(Run(cmd::AppExit));
    Settle();
    EXPECT_EQ(m_Questions.size(), 2);
    EXPECT_TRUE(Documents().empty());
    QFile saved(m_SavePath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("\"updatePeriod\": 90"));
}

TEST_F(SessionFileTest, AnEmptyDocumentOpensAsANewSessionAndOtherFilesAreRefused) {
    ASSERT_TRUE(Start());
    const QString empty = m_Folder.filePath("old.vgl");
    const QString other = m_Folder.filePath("notes.vgl");
    QFile(empty).open(QIODevice::WriteOnly);
    QFile text(other);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("shopping list\n");
    text.close();

    auto* opened = dynamic_cast<CVGLDoc*>(m_pApp->OpenDocumentFile(empty));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->m_bDisconnected, 1);
    EXPECT_EQ(opened->m_UpdatePeriod, 60);
    EXPECT_EQ(opened->GetGraphView()->GetServiceList().size(), 6u);
    EXPECT_EQ(m_pApp->OpenDocumentFile(other), nullptr);
    EXPECT_EQ(m_Messages,
              QStringList{"Cannot open the file notes.vgl:\nIt is not a VGL session document."});
}

// The options of the sheet become the defaults of new sessions, in this
// application object and in the next one, which reads them from the
// configuration folder.
TEST_F(SessionFileTest, AppliedOptionsAreTheDefaultsOfNewSessionsInTheNextStart) {
    ASSERT_TRUE(Start());
    m_OtherDialog = [](QDialog& dialog) {
        auto* sheet = dynamic_cast<OptionPPT*>(&dialog);
        if (!sheet) return int(QDialog::Rejected);
        sheet->show();  // the pages take their values as they first show
        sheet->Tabs()->setCurrentIndex(1);
        sheet->DataPage().PeriodEdit()->selectAll();
        QTest::keyClicks(sheet->DataPage().PeriodEdit(), "45");
        sheet->OkButton()->click();
        sheet->hide();
        return sheet->result();
    };
    ASSERT_TRUE(Run(cmd::Option));
    EXPECT_EQ(Documents().front()->m_UpdatePeriod, 45);
    ASSERT_TRUE(Run(cmd::FileNew));
    EXPECT_EQ(Documents().back()->m_UpdatePeriod, 45);

    m_pApp.reset();
    ASSERT_TRUE(Start());
    ASSERT_EQ(Documents().size(), 1u);
    EXPECT_EQ(Documents().front()->m_UpdatePeriod, 45);
}

}  // namespace
