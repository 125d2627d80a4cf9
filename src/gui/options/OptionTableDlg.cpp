#include "gui/options/OptionTableDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/base/Trace.h"
#include "gui/grid/GridView.h"
#include "gui/options/SpinButton.h"

namespace {

QListWidget* MakeColumnList(QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return list;
}

int ItemId(const QListWidgetItem& item) {
    return item.data(Qt::UserRole).toInt();
}

// Selected items in list order (the selection's own order is the order of clicking).
QList<QListWidgetItem*> SelectedInOrder(const QListWidget& list) {
    QList<QListWidgetItem*> items;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->isSelected()) items.append(list.item(row));
    }
    return items;
}

}  // namespace

OptionTableDlg::OptionTableDlg(QWidget* parent)
    : OptionPage(parent),
      m_pShownList(MakeColumnList(this)),
      m_pHiddenList(MakeColumnList(this)),
      m_pHideButton(new QPushButton(QStringLiteral("Hide >>"), this)),
      m_pShowButton(new QPushButton(QStringLiteral("<< Show"), this)),
      m_pFrozenEdit(new QLineEdit(this)),
      m_pFrozenSpin(new SpinButton(m_pFrozenEdit, this)),
      m_pAscending(new QRadioButton(QStringLiteral("Ascending"), this)),
      m_pDescending(new QRadioButton(QStringLiteral("Descending"), this)) {
    m_pShownList->setAccessibleName(QStringLiteral("Shown Columns"));
    m_pHiddenList->setAccessibleName(QStringLiteral("Hidden Columns"));
    m_pFrozenEdit->setAccessibleName(QStringLiteral("frozen column(s)"));
    m_pFrozenEdit->setMaxLength(6);
    m_pFrozenEdit->setFixedWidth(40);
    // The two directions are set by the page, and a mixed selection unchecks both.
    m_pAscending->setAutoExclusive(false);
    m_pDescending->setAutoExclusive(false);

    auto* shownGroup = new QGroupBox(QStringLiteral("Shown Columns"), this);
    (new QVBoxLayout(shownGroup))->addWidget(m_pShownList);
    auto* hiddenGroup = new QGroupBox(QStringLiteral("Hidden Columns"), this);
    (new QVBoxLayout(hiddenGroup))->addWidget(m_pHiddenList);

    auto* moveButtons = new QVBoxLayout;
    moveButtons->addStretch();
    moveButtons->addWidget(m_pHideButton);
    moveButtons->addWidget(m_pShowButton);
    moveButtons->addStretch();

    auto* frozen = new QHBoxLayout;
    frozen->setSpacing(0);
    frozen->addWidget(m_pFrozenEdit);
    frozen->addWidget(m_pFrozenSpin);
    frozen->addSpacing(6);
    frozen->addWidget(new QLabel(QStringLiteral("frozen column(s)"), this));
    frozen->addStretch();

    auto* sortGroup = new QGroupBox(QStringLiteral("Sort Order"), this);
    auto* sortLayout = new QVBoxLayout(sortGroup);
    sortLayout->addWidget(m_pAscending);
    sortLayout->addWidget(m_pDescending);

    auto* grid = new QGridLayout(this);
    grid->addWidget(shownGroup, 0, 0);
    grid->addLayout(moveButtons, 0, 1);
    grid->addWidget(hiddenGroup, 0, 2);
    grid->addLayout(frozen, 1, 0, Qt::AlignVCenter);
    grid->addWidget(sortGroup, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);

    setTabOrder(m_pShownList, m_pHideButton);
    setTabOrder(m_pHideButton, m_pShowButton);
    setTabOrder(m_pShowButton, m_pHiddenList);
    setTabOrder(m_pHiddenList, m_pFrozenEdit);
    setTabOrder(m_pFrozenEdit, m_pAscending);
    setTabOrder(m_pAscending, m_pDescending);

    connect(m_pShownList, &QListWidget::itemSelectionChanged, this,
            &OptionTableDlg::OnShownSelChange);
    connect(m_pHiddenList, &QListWidget::itemSelectionChanged, this,
            &OptionTableDlg::OnHiddenSelChange);
    connect(m_pHideButton, &QPushButton::clicked, this, &OptionTableDlg::OnHide);
    connect(m_pShowButton, &QPushButton::clicked, this, &OptionTableDlg::OnShow);
    connect(m_pAscending, &QRadioButton::clicked, this, &OptionTableDlg::OnAscending);
    connect(m_pDescending, &QRadioButton::clicked, this, &OptionTableDlg::OnDescending);
    connect(m_pFrozenSpin, &SpinButton::stepped, this, &OptionTableDlg::OnFrozenStep);
    connect(m_pFrozenEdit, &QLineEdit::textEdited, this, [this] { SetModified(); });
}

void OptionTableDlg::SetGridView(GridView* view) {
    if (!view) return;
    m_pGridView = view;
    m_pViewColumns = &view->m_ColumnInfo;
    CopyColumns(*m_pViewColumns, m_WorkColumns);
    // The page shows the count the grid has now: the count takes effect in
    // the grid, so a page that showed 0 while columns are frozen would be wrong.
    m_FrozenCols = view->FrozenColumns();
}

void OptionTableDlg::OnInitDialog() {
    m_bSyncing = true;
    for (const ColumnInfo& column : m_WorkColumns) {
        InsertByRule(column.m_bHidden ? *m_pHiddenList : *m_pShownList, column);
    }
    m_pShownList->clearSelection();
    m_pHiddenList->clearSelection();
    m_bSyncing = false;
    m_pAscending->setEnabled(false);
    m_pDescending->setEnabled(false);
    m_pShowButton->setEnabled(false);
    m_pHideButton->setEnabled(false);
    m_pFrozenEdit->setText(QString::number(m_FrozenCols));
    FitListsToColumns();
}

// Either list may come to hold every column, so each is made tall enough for
// all of them: at any scale factor no column hides below a scroll bar.
void OptionTableDlg::FitListsToColumns() {
    const QListWidget* sample = m_pShownList->count() > 0 ? m_pShownList : m_pHiddenList;
    const int row =
        sample->count() > 0 ? sample->sizeHintForRow(0) : sample->fontMetrics().height() + 2;
    const int rows = static_cast<int>(m_WorkColumns.size());
    for (QListWidget* list : {m_pShownList, m_pHiddenList}) {
        list->setMinimumHeight(rows * row + 2 * list->frameWidth());
    }
}

bool OptionTableDlg::UpdateData() {
    return ExchangeInt(*m_pFrozenEdit, 0, MaxFrozenColumns, m_FrozenCols);
}

void OptionTableDlg::ApplyToGrid() {
    if (!m_pGridView) return;
    CopyColumns(m_WorkColumns, m_pGridView->m_ColumnInfo);
    m_pGridView->ApplyColumnVisibility();
    m_pGridView->SetFrozenColumns(m_FrozenCols);
    // Rows ordered by a column, and the header's arrow, follow a direction changed here.
    const int sorted = m_pGridView->SortColumn();
    if (sorted >= 0) m_pGridView->SortByColumn(sorted);
    m_pGridView->viewport()->update();
}

bool OptionTableDlg::IsValidId(int id) const {
    return id >= 0 && id < static_cast<int>(m_WorkColumns.size());
}

void OptionTableDlg::InsertByRule(QListWidget& list, const ColumnInfo& column) {
    int row = 0;
    while (row < list.count() && ItemId(*list.item(row)) <= column.m_Id) ++row;
    auto* item = new QListWidgetItem(QString::fromStdString(column.m_Title));
    item->setData(Qt::UserRole, column.m_Id);
    list.insertItem(row, item);
}

void OptionTableDlg::OnShownSelChange() {
    if (m_bSyncing) return;
    m_pHideButton->setEnabled(true);
    m_pShowButton->setEnabled(false);
    m_bSyncing = true;
    m_pHiddenList->clearSelection();
    m_bSyncing = false;
    UpdateSortButtons(*m_pShownList);
}

void OptionTableDlg::OnHiddenSelChange() {
    if (m_bSyncing) return;
    m_pShowButton->setEnabled(true);
    m_pHideButton->setEnabled(false);
    m_bSyncing = true;
    m_pShownList->clearSelection();
    m_bSyncing = false;
    UpdateSortButtons(*m_pHiddenList);
}

void OptionTableDlg::UpdateSortButtons(const QListWidget& list) {
    m_pAscending->setEnabled(true);
    m_pDescending->setEnabled(true);
    int32_t candidate = -1;
    bool mixed = false;
    for (const QListWidgetItem* item : SelectedInOrder(list)) {
        const int id = ItemId(*item);
        if (!IsValidId(id)) {
            GW_TRACE("Index out of range");
            continue;
        }
        const int32_t ascending = m_WorkColumns[static_cast<size_t>(id)].m_bAscending;
        if (candidate < 0) {
            candidate = ascending;
        } else if (ascending != candidate) {
            mixed = true;
            break;
        }
    }
    const bool decided = !mixed && candidate >= 0;
    m_pAscending->setChecked(decided && candidate == 1);
    m_pDescending->setChecked(decided && candidate != 1);
}

void OptionTableDlg::MoveSelected(QListWidget& from, QListWidget& to, int32_t hidden) {
    bool moved = false;
    m_bSyncing = true;
    for (QListWidgetItem* item : SelectedInOrder(from)) {
        const int id = ItemId(*item);
        if (!IsValidId(id)) {
            GW_TRACE("Index out of range");
            continue;
        }
        delete from.takeItem(from.row(item));
        ColumnInfo& column = m_WorkColumns[static_cast<size_t>(id)];
        column.m_bHidden = hidden;
        InsertByRule(to, column);
        moved = true;
    }
    m_bSyncing = false;
    if (moved) SetModified();
}

void OptionTableDlg::OnHide() {
    MoveSelected(*m_pShownList, *m_pHiddenList, 1);
}

void OptionTableDlg::OnShow() {
    MoveSelected(*m_pHiddenList, *m_pShownList, 0);
}

void OptionTableDlg::SetSortDirection(int32_t ascending) {
    // A selection in the hidden list wins over one in the shown list.
    QList<QListWidgetItem*> items = SelectedInOrder(*m_pHiddenList);
    if (items.isEmpty()) items = SelectedInOrder(*m_pShownList);
    for (const QListWidgetItem* item : items) {
        const int id = ItemId(*item);
        if (!IsValidId(id)) {
            GW_TRACE("Index out of range");
            continue;
        }
        m_WorkColumns[static_cast<size_t>(id)].m_bAscending = ascending;
    }
    m_pAscending->setChecked(ascending == 1);
    m_pDescending->setChecked(ascending != 1);
    SetModified();
}

void OptionTableDlg::OnAscending() {
    SetSortDirection(1);
}

void OptionTableDlg::OnDescending() {
    SetSortDirection(0);
}

void OptionTableDlg::OnFrozenStep(int direction) {
    if (!UpdateData()) return;
    const int32_t before = m_FrozenCols;
    if (direction > 0 && m_FrozenCols < MaxFrozenColumns) ++m_FrozenCols;
    if (direction < 0 && m_FrozenCols > 0) --m_FrozenCols;
    m_pFrozenEdit->setText(QString::number(m_FrozenCols));
    if (m_FrozenCols != before) SetModified();
}
