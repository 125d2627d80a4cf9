#pragma once
// The "Table" page of the options sheet: which grid columns are shown and
// which hidden, the sort direction chosen for each column, and how many
// leading columns stay in place while the grid scrolls sideways. It edits a
// working copy of the grid view's column descriptors and writes it back when
// the sheet applies it.

#include <cstdint>

#include "core/table/ColumnInfo.h"
#include "gui/options/OptionPage.h"

class GridView;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class SpinButton;

class OptionTableDlg : public OptionPage {
    Q_OBJECT
public:
    static constexpr int MaxFrozenColumns = 2;

    explicit OptionTableDlg(QWidget* parent = nullptr);

    void SetGridView(GridView* view);
    void ApplyToGrid();
    bool UpdateData() override;  // the frozen count, 0..2

    // Handlers of the page's controls.
    void OnShownSelChange();
    void OnHiddenSelChange();
    void OnHide();
    void OnShow();
    void OnAscending();
    void OnDescending();
    void OnFrozenStep(int direction);

    const ColumnInfoArray& WorkColumns() const { return m_WorkColumns; }
    int32_t FrozenCols() const { return m_FrozenCols; }

    QListWidget* ShownList() const { return m_pShownList; }
    QListWidget* HiddenList() const { return m_pHiddenList; }
    QPushButton* HideButton() const { return m_pHideButton; }
    QPushButton* ShowButton() const { return m_pShowButton; }
    QRadioButton* AscendingButton() const { return m_pAscending; }
    QRadioButton* DescendingButton() const { return m_pDescending; }
    QLineEdit* FrozenEdit() const { return m_pFrozenEdit; }
    SpinButton* FrozenSpin() const { return m_pFrozenSpin; }

protected:
    void OnInitDialog() override;

private:
    void FitListsToColumns();
    void InsertByRule(QListWidget& list, const ColumnInfo& column);
    void MoveSelected(QListWidget& from, QListWidget& to, int32_t hidden);
    void UpdateSortButtons(const QListWidget& list);
    void SetSortDirection(int32_t ascending);
    bool IsValidId(int id) const;

    ColumnInfoArray* m_pViewColumns = nullptr;
    ColumnInfoArray m_WorkColumns;
    GridView* m_pGridView = nullptr;
    int32_t m_FrozenCols = 0;

    QListWidget* m_pShownList;
    QListWidget* m_pHiddenList;
    QPushButton* m_pHideButton;
    QPushButton* m_pShowButton;
    QLineEdit* m_pFrozenEdit;
    SpinButton* m_pFrozenSpin;
    QRadioButton* m_pAscending;
    QRadioButton* m_pDescending;
    bool m_bSyncing = false;  // the page itself is changing a list's selection
};
