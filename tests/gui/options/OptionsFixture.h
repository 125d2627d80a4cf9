#pragma once
// A session for the options tests: an application object (it owns the timer),
// a document with its grid and graph views but no frames, and the hooks that
// answer the sheet, its message boxes and the trace. The sheet is driven by a
// script that runs while it is shown; the script clicks OK, Cancel or nothing.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/base/Trace.h"
#include "gui/framework/Dialogs.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridView.h"
#include "gui/options/CheckListBox.h"
#include "gui/options/OptionPPT.h"
#include "gui/session/CVGLDoc.h"
#include "support/TimerApp.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

struct ManualSystemTimer : SystemTimer {
    int32_t Create(uint32_t) override { return ++m_LastId; }
    void Kill(int32_t) override {}
    int32_t m_LastId = 0;
};

class OptionsTest : public ::testing::Test {
protected:
    using Script = std::function<void(OptionPPT& sheet)>;

    void SetUp() override {
        GWTimer::UseSystemTimer(&m_SystemTimer);
        m_pApp = std::make_unique<TimerApp>();
        m_pDocument = std::make_unique<CVGLDoc>();
        m_pGrid = std::make_unique<GridView>();
        m_pGraph = std::make_unique<GraphView>();
        m_pDocument->AddView(m_pGrid.get());
        m_pDocument->AddView(m_pGraph.get());
        m_pGrid->OnInitialUpdate();
        m_pGraph->OnInitialUpdate();
        SetMessageBoxHook([this](const QString& text) { m_Messages.push_back(text); });
        SetTraceSink([this](const std::string& line) { m_Trace.push_back(line); });
        SetDialogHook([this](QDialog& dialog) {
            ++m_SheetsShown;
            auto* sheet = dynamic_cast<OptionPPT*>(&dialog);
            if (!sheet) return static_cast<int>(QDialog::Rejected);
            dialog.show();
            QApplication::setActiveWindow(&dialog);  // so that fields get focus events
            if (m_Script) m_Script(*sheet);
            dialog.hide();
            return dialog.result();
        });
    }

    void TearDown() override {
        SetDialogHook({});
        SetMessageBoxHook({});
        SetTraceSink({});
        m_pGrid.reset();
        m_pGraph.reset();
        m_pDocument.reset();
        m_pApp.reset();
        GWTimer::UseSystemTimer(nullptr);
    }

    // Opens the sheet on the session, lets the script act, returns its result.
    int RunSheet(Script script) {
        m_Script = std::move(script);
        const int result = OptionPPT::RunFor(*m_pDocument);
        m_Script = {};
        return result;
    }

    // A click where the button takes it: a radio button only on its circle and text.
    static void Click(QAbstractButton* button) {
        const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier,
                          radio ? QPoint(6, button->height() / 2) : button->rect().center());
    }

    static void ClickItem(QListWidget* list, int row,
                          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QListWidgetItem* item = list->item(row);
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualItemRect(item).center());
    }

    // A click on the check box in front of a line.
    static void ClickCheckBox(CheckListBox* list, int row) {
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->CheckRect(row).center());
    }

    static void TypeInto(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }

    static QStringList Texts(const QListWidget* list) {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row) texts << list->item(row)->text();
        return texts;
    }

    bool Traced(const std::string& message) const {
        for (const std::string& line : m_Trace) {
            if (line.rfind(message + " in ", 0) == 0) return true;
        }
        return false;
    }

    ManualSystemTimer m_SystemTimer;
    std::unique_ptr<TimerApp> m_pApp;
    std::unique_ptr<CVGLDoc> m_pDocument;
    std::unique_ptr<GridView> m_pGrid;
    std::unique_ptr<GraphView> m_pGraph;
    Script m_Script;
    QStringList m_Messages;
    std::vector<std::string> m_Trace;
    int m_SheetsShown = 0;
};
