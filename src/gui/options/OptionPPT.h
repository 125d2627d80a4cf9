#pragma once
// The options sheet of a session: the pages "Table", "Data " and "Graph"
// with OK, Cancel and Apply. OK and Apply make every page that holds a change
// apply it (data, then table, then graph) and refresh the session; after an
// Apply the Cancel button reads "Close", and closing keeps what was applied.
// A bad number on the shown page keeps the sheet open on that page.

#include <QDialog>
#include <QPointer>

class CVGLDoc;
class OptionDataDlg;
class OptionGraphDlg;
class OptionPage;
class OptionTableDlg;
class QDialogButtonBox;
class QPushButton;
class QTabWidget;

class OptionPPT : public QDialog {
    Q_OBJECT
public:
    explicit OptionPPT(const QString& caption, QWidget* parent = nullptr);

    // Shows the sheet for the active session (the document of the main
    // window's active view) and applies what the user confirms. Without an
    // active session, or with one that lacks its grid or graph view, nothing
    // is shown. Returns the sheet's result.
    int Run();
    // The same for the given session: the document's Option command.
    static int RunFor(CVGLDoc& document);

    void ApplyNow();  // the Apply button
    void accept() override;

    OptionTableDlg& TablePage() const { return *m_pTablePage; }
    OptionDataDlg& DataPage() const { return *m_pDataPage; }
    OptionGraphDlg& GraphPage() const { return *m_pGraphPage; }
    QTabWidget* Tabs() const { return m_pTabs; }
    QPushButton* OkButton() const;
    QPushButton* CancelButton() const;
    QPushButton* ApplyButton() const;

private:
    int RunOn(CVGLDoc* document);
    // Applies the changed pages if the session still has both views.
    bool ApplyChangedPages();
    OptionPage* Page(int index) const;
    void OnTabChanged(int index);

    OptionTableDlg* m_pTablePage;
    OptionDataDlg* m_pDataPage;
    OptionGraphDlg* m_pGraphPage;
    QTabWidget* m_pTabs;
    QDialogButtonBox* m_pButtons;
    QPointer<CVGLDoc> m_pDocument;
    int m_CurrentPage = 0;
    bool m_bSwitching = false;
};
