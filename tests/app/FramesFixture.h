#pragma once
// The program as main() starts it, inside the test process: the application
// object, its main window (offscreen) and the sessions the command line
// asks for. Instance locks go to a private runtime folder; message boxes and dialogs
// are answered here.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/ChildFrm.h"
#include "app/MainFrm.h"
#include "app/VGLApp.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWDocTemplate.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/ServerNameDlg.h"
#include "gui/session/SessionDefaults.h"
#include "support/SessionSettle.h"

class FramesTest : public ::testing::Test {
protected:
    static constexpr const char* Cancel = "<cancel>";

    FramesTest() {
        qputenv("XDG_RUNTIME_DIR", m_LockDir.path().toLocal8Bit());
        // A configuration folder of the test's own: the recent files and the
        // kept options of one test never reach another, nor the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_ConfigDir.path());
        SetMessageBoxHook([this](const QString& text) { m_Messages << text; });
        SetDialogHook([this](QDialog& dialog) { return Answer(dialog); });
    }

    ~FramesTest() override {
        m_pApp.reset();
        SessionDefaults::Enable(false);
        SetMessageBoxHook({});
        SetDialogHook({});
    }

    bool Start(const VGLCommandLine& commandLine = VGLCommandLine()) {
        m_pApp = std::make_unique<CVGLApp>();
        return m_pApp->StartInstance(commandLine);
    }

    CMainFrame& Main() const { return *m_pApp->MainFrame(); }

    std::vector<CVGLDoc*> Documents() const {
        std::vector<CVGLDoc*> documents;
        for (GWDocument* document : m_pApp->GetDocTemplates().front()->GetDocuments()) {
            documents.push_back(dynamic_cast<CVGLDoc*>(document));
        }
        return documents;
    }

    CChildFrame* ActiveFrame() const {
        return dynamic_cast<CChildFrame*>(Main().GetActiveChildFrame());
    }

    // The state of a command as the menus and accelerators see it.
    GWCmdUI State(int id) const { return m_pApp->UpdateCommand(id); }
    bool Run(int id) const { return m_pApp->ExecuteCommand(id); }

    // The menu item with this id in the menu bar as it shows now.
    QAction* Item(int id) const {
        Main().UpdateCommandStates();
        for (QAction* bar : Main().menuBar()->actions()) {
            if (!bar->isVisible()) continue;
            if (!bar->menu()) {
                if (bar->data().toInt() == id) return bar;
                continue;
            }
            for (QAction* item : bar->menu()->actions()) {
                if (!item->isSeparator() && item->data().toInt() == id) return item;
            }
        }
        return nullptr;
    }

    // Lets deferred work run: closed windows are deleted, queued calls made.
    static void Settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Runs the event loop until no session has a connect or poll in flight.
    bool SettleAll() const {
        for (CVGLDoc* document : Documents()) {
            if (!SettleSession(document)) return false;
        }
        return true;
    }

    // Answers the host-name dialog with the next queued name (an empty queue
    // or Cancel cancels); any other dialog goes to m_OtherDialog.
    int Answer(QDialog& dialog) {
        auto* names = dynamic_cast<ServerNameDlg*>(&dialog);
        if (!names) {
            ++m_nOtherDialogs;
            return m_OtherDialog ? m_OtherDialog(dialog) : int(QDialog::Rejected);
        }
        ++m_nNameDialogs;
        m_NameDialogTexts << names->NameEdit()->text();
        m_pNameDialogParent = names->parentWidget();
        if (m_bShowNameDialogs) {  // where it appears, as exec would show it
            names->show();
            QCoreApplication::processEvents();
            // Compared with the parent's centre at the same moment: the window
            // may still be taking its maximised size from the window system.
            m_NameDialogOffset = names->frameGeometry().center() -
                                 names->parentWidget()->frameGeometry().center();
        }
        if (m_Answers.empty() || m_Answers.front() == Cancel) {
            if (!m_Answers.empty()) m_Answers.pop_front();
            names->CancelButton()->click();
        } else {
            names->NameEdit()->setText(QString::fromStdString(m_Answers.front()));
            m_Answers.pop_front();
            names->OkButton()->click();
        }
        return names->result();
    }

    QTemporaryDir m_LockDir;
    QTemporaryDir m_ConfigDir;
    std::unique_ptr<CVGLApp> m_pApp;
    QStringList m_Messages;
    std::deque<std::string> m_Answers;
    int m_nNameDialogs = 0;
    QStringList m_NameDialogTexts;  // the name each host-name dialog opened with
    QWidget* m_pNameDialogParent = nullptr;
    bool m_bShowNameDialogs = false;
    QPoint m_NameDialogOffset;  // of the dialog's centre from its parent's
    int m_nOtherDialogs = 0;
    std::function<int(QDialog&)> m_OtherDialog;
};
