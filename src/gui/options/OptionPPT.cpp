#include "gui/options/OptionPPT.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/framework/Dialogs.h"
#include "gui/framework/GWApp.h"
#include "gui/graph/GraphView.h"
#include "gui/grid/GridView.h"
#include "gui/options/OptionDataDlg.h"
#include "gui/options/OptionGraphDlg.h"
#include "gui/options/OptionTableDlg.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionDefaults.h"

OptionPPT::OptionPPT(const QString& caption, QWidget* parent)
    : QDialog(parent),
      m_pTablePage(new OptionTableDlg),
      m_pDataPage(new OptionDataDlg),
      m_pGraphPage(new OptionGraphDlg),
      m_pTabs(new QTabWidget(this)),
      m_pButtons(new QDialogButtonBox(
          QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this)) {
    setWindowTitle(caption);
    m_pTabs->addTab(m_pTablePage, QStringLiteral("Table"));
    m_pTabs->addTab(m_pDataPage, QStringLiteral("Data "));
    m_pTabs->addTab(m_pGraphPage, QStringLiteral("Graph"));
    m_pTabs->setCurrentIndex(0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    layout->addWidget(m_pButtons);

    ApplyButton()->setEnabled(false);
    OkButton()->setDefault(true);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &OptionPPT::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &OptionPPT::reject);
    connect(ApplyButton(), &QPushButton::clicked, this, &OptionPPT::ApplyNow);
    connect(m_pTabs, &QTabWidget::currentChanged, this, &OptionPPT::OnTabChanged);
    for (int index = 0; index < m_pTabs->count(); ++index) {
        connect(Page(index), &OptionPage::changed, this,
                [this] { ApplyButton()->setEnabled(true); });
    }
}

QPushButton* OptionPPT::OkButton() const {
    return m_pButtons->button(QDialogButtonBox::Ok);
}

QPushButton* OptionPPT::CancelButton() const {
    return m_pButtons->button(QDialogButtonBox::Cancel);
}

QPushButton* OptionPPT::ApplyButton() const {
    return m_pButtons->button(QDialogButtonBox::Apply);
}

OptionPage* OptionPPT::Page(int index) const {
    return qobject_cast<OptionPage*>(m_pTabs->widget(index));
}

int OptionPPT::Run() {
    GWApp* app = GWApp::Get();
    return RunOn(app ? dynamic_cast<CVGLDoc*>(app->GetActiveDocument()) : nullptr);
}

int OptionPPT::RunFor(CVGLDoc& document) {
    GridView* grid = document.GetGridView();
    OptionPPT sheet(QStringLiteral("Options"), grid ? grid->window() : nullptr);
    return sheet.RunOn(&document);
}

int OptionPPT::RunOn(CVGLDoc* document) {
    if (!document) return Rejected;
    GridView* grid = document->GetGridView();
    GraphView* graph = document->GetGraphView();
    if (!grid || !graph) return Rejected;
    m_pDocument = document;
    m_pTablePage->SetGridView(grid);
    m_pDataPage->SetTable(&document->GetTable());
    m_pDataPage->SetDocument(document);
    m_pGraphPage->SetGraphView(graph);

    const int result = GWExecDialog(*this);
    if (result == Accepted && m_pDocument) {
        ApplyChangedPages();
        m_pDocument->Refresh();
    }
    return result;
}

bool OptionPPT::ApplyChangedPages() {
    if (!m_pDocument || !m_pDocument->GetGridView() || !m_pDocument->GetGraphView()) {
        return false;
    }
    if (m_pDataPage->m_bModified) {
        m_pDataPage->m_bModified = 0;
        m_pDataPage->ApplyToSession();
    }
    if (m_pTablePage->m_bModified) {
        m_pTablePage->m_bModified = 0;
        m_pTablePage->ApplyToGrid();
    }
    if (m_pGraphPage->m_bModified) {
        m_pGraphPage->m_bModified = 0;
        m_pGraphPage->ApplyToGraph();
    }
    // What the user set becomes the defaults of the sessions to come.
    if (SessionDefaults::IsEnabled()) SessionDefaults::Store(SessionSettings::Capture(*m_pDocument));
    return true;
}

void OptionPPT::accept() {
    // The shown page's fields are read and checked before the sheet closes.
    if (!Page(m_pTabs->currentIndex())->UpdateData()) return;
    QDialog::accept();
}

void OptionPPT::ApplyNow() {
    if (!Page(m_pTabs->currentIndex())->UpdateData()) return;
    if (!m_pDocument) return;
    ApplyChangedPages();
    m_pDocument->Refresh();
    ApplyButton()->setEnabled(false);
    CancelButton()->setText(QStringLiteral("Close"));
}

void OptionPPT::OnTabChanged(int index) {
    if (m_bSwitching) return;
    const int from = m_CurrentPage;
    if (from != index) {
        // The page being left must hold valid values; it stays in front
        // while its message shows.
        m_bSwitching = true;
        m_pTabs->setCurrentIndex(from);
        m_bSwitching = false;
        if (!Page(from)->UpdateData()) return;
        m_bSwitching = true;
        m_pTabs->setCurrentIndex(index);
        m_bSwitching = false;
    }
    m_CurrentPage = index;
}
