#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTemporaryDir>

#include "FrameworkFakes.h"
#include "gui/framework/CommandIds.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWPrint.h"

namespace {

class PrintTest : public ::testing::Test {
protected:
    PrintTest() {
        m_View.resize(300, 200);
        m_Document.AddView(&m_View);
        m_Frame.m_pActiveView = &m_View;
        m_Main.m_pChild = &m_Frame;
        m_App.SetMainFrame(&m_Main);
        QPrinter& printer = m_App.GetPrinter();
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_Path);
    }
    ~PrintTest() override {
        SetDialogHook(nullptr);
        m_App.SetMainFrame(nullptr);
    }
    QByteArray Printed() const {
        QFile file(m_Path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_Folder;
    QString m_Path = m_Folder.filePath("view.pdf");
    Log m_Log;
    FakeApp m_App{&m_Log};
    FakeDocument m_Document;
    FakeView m_View{"view", &m_Log};
    FakeFrame m_Frame{"frame", &m_Log};
    FakeMainFrame m_Main{&m_Log};
};

}  // namespace

TEST_F(PrintTest, PrintsAViewToPdfThroughItsHooksInOrder) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(m_Path);
    ASSERT_TRUE(GWPrintViewTo(m_View, printer));
    EXPECT_EQ(m_Log, (Log{"view prepare", "view begin", "view print", "view end"}));
    EXPECT_TRUE(Printed().startsWith("%PDF"));
}

TEST_F(PrintTest, RefusedPreparationPrintsNothing) {
    m_View.m_bPrintable = false;
    EXPECT_FALSE(GWPrintViewTo(m_View, m_App.GetPrinter()));
    EXPECT_EQ(m_Log, Log{"view prepare"});
    EXPECT_FALSE(QFile::exists(m_Path));
}

TEST_F(PrintTest, PrintCommandAsksWithTheDialogFirst) {
    int asked = 0;
    SetDialogHook([&asked](QDialog&) {
        ++asked;
        return static_cast<int>(QDialog::Rejected);
    });
    EXPECT_TRUE(m_App.ExecuteCommand(cmd::FilePrint));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(m_Log.empty());

    SetDialogHook([](QDialog&) { return static_cast<int>(QDialog::Accepted); });
    EXPECT_TRUE(m_App.ExecuteCommand(cmd::FilePrint));
    EXPECT_EQ(m_Log.back(), "view end");
    EXPECT_TRUE(Printed().startsWith("%PDF"));

    // The document decides: while it says no, nothing is asked.
    m_Document.Enable(cmd::FilePrint, false);
    asked = 0;
    SetDialogHook([&asked](QDialog&) { return ++asked; });
    EXPECT_FALSE(m_App.ExecuteCommand(cmd::FilePrint));
    EXPECT_EQ(asked, 0);
}

TEST_F(PrintTest, PreviewDrawsTheViewOnRequest) {
    SetDialogHook([](QDialog& dialog) {
        EXPECT_NE(dynamic_cast<QPrintPreviewDialog*>(&dialog), nullptr);
        if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) preview->updatePreview();
        return static_cast<int>(QDialog::Rejected);
    });
    EXPECT_TRUE(m_App.ExecuteCommand(cmd::FilePrintPreview));
    EXPECT_EQ(m_Log, (Log{"view prepare", "view begin", "view print", "view end"}));
}
