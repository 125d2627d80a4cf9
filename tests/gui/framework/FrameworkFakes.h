#pragma once
// Small documents, views and frames that record what the framework does to
// them.

#include <QIODevice>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "gui/framework/GWApp.h"
#include "gui/framework/GWDocument.h"
#include "gui/framework/GWFrame.h"
#include "gui/framework/GWView.h"

using Log = std::vector<std::string>;

class FakeDocument : public GWDocument {
public:
    explicit FakeDocument(Log* log = nullptr) : m_pLog(log) {}
    void Handle(int id, const std::string& name) {
        OnCommand(id, [this, name] { Note(name); });
    }
    void Enable(int id, bool on, bool checked = false) {
        OnUpdateCommand(id, [on, checked](GWCmdUI& ui) {
            ui.Enable(on);
            ui.SetCheck(checked);
        });
    }
    void DeleteContents() override {
        Note("DeleteContents");
        m_Text.clear();
    }
    void Serialize(QIODevice& file, bool storing) override {
        Note(storing ? "store" : "load");
        if (storing) {
            file.write(m_Text);
        } else {
            m_Text = file.readAll();
        }
    }
    void Note(const std::string& what) {
        if (m_pLog) m_pLog->push_back(what);
    }

    QByteArray m_Text;
    Log* m_pLog;
};

class FakeView : public QWidget, public GWView {
public:
    FakeView(const std::string& name, Log* log) : m_Name(name), m_pLog(log) {}
    QWidget* GetWidget() override { return this; }
    void Handle(int id) {
        OnCommand(id, [this] { m_pLog->push_back(m_Name); });
    }
    void Enable(int id, bool on, bool checked = false) {
        OnUpdateCommand(id, [on, checked](GWCmdUI& ui) {
            ui.Enable(on);
            ui.SetCheck(checked);
        });
    }
    void OnUpdate(GWView* sender, intptr_t hint, QObject* hintObject) override {
        m_Updates.push_back({sender, hint, hintObject});
        if (m_pCloseOnUpdate) m_pCloseOnUpdate->GetDocument()->RemoveView(m_pCloseOnUpdate);
    }
    bool OnPreparePrinting(QPrinter& printer) override {
        m_pLog->push_back(m_Name + " prepare");
        return m_bPrintable && GWView::OnPreparePrinting(printer);
    }
    void OnBeginPrinting(QPrinter&) override { m_pLog->push_back(m_Name + " begin"); }
    void OnPrint(QPainter& painter, QPrinter& printer) override {
        m_pLog->push_back(m_Name + " print");
        GWView::OnPrint(painter, printer);
    }
    void OnEndPrinting(QPrinter&) override { m_pLog->push_back(m_Name + " end"); }

    struct Update {
        GWView* m_pSender;
        intptr_t m_Hint;
        QObject* m_pObject;
    };
    std::string m_Name;
    Log* m_pLog;
    std::vector<Update> m_Updates;
    FakeView* m_pCloseOnUpdate = nullptr;
    bool m_bPrintable = true;
};

class FakeFrame : public GWFrame {
public:
    FakeFrame(const std::string& name, Log* log) : m_Name(name), m_pLog(log) {}
    GWView* GetActiveView() const override { return m_pActiveView; }
    void Handle(int id) {
        OnCommand(id, [this] { m_pLog->push_back(m_Name); });
    }
    void Enable(int id, bool on) {
        OnUpdateCommand(id, [on](GWCmdUI& ui) { ui.Enable(on); });
    }
    std::string m_Name;
    Log* m_pLog;
    GWView* m_pActiveView = nullptr;
};

class FakeMainFrame : public GWMainFrame {
public:
    explicit FakeMainFrame(Log* log) : m_pLog(log) {}
    GWFrame* GetActiveChildFrame() const override { return m_pChild; }
    void Handle(int id) {
        OnCommand(id, [this] { m_pLog->push_back("main frame"); });
    }
    void UpdateCommandStates() override { ++m_nStateUpdates; }
    Log* m_pLog;
    GWFrame* m_pChild = nullptr;
    int m_nStateUpdates = 0;
};

class FakeApp : public GWApp {
public:
    explicit FakeApp(Log* log) : m_pLog(log) {}
    void Handle(int id) {
        OnCommand(id, [this] { m_pLog->push_back("application"); });
    }
    void Enable(int id, bool on) {
        OnUpdateCommand(id, [on](GWCmdUI& ui) { ui.Enable(on); });
    }
    Log* m_pLog;
};
