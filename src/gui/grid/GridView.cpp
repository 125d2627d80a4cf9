#include "gui/grid/GridView.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <algorithm>
#include <set>

#include "gui/control/ConnectionActions.h"
#include "gui/framework/CommandIds.h"
#include "gui/grid/GridDelegate.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridPrinter.h"
#include "gui/session/CVGLDoc.h"

namespace {

// A header click sorts; it does not select the column as well.
void StopHeaderSelecting(QTableView* view) {
    QObject::disconnect(view->horizontalHeader(), SIGNAL(sectionPressed(int)), view,
                        SLOT(selectColumn(int)));
    QObject::disconnect(view->horizontalHeader(), SIGNAL(sectionEntered(int)), view,
                        SLOT(_q_selectColumn(int)));
}

}  // namespace

GridView::GridView(QWidget* parent) : QTableView(parent) {
    BuildDefaultColumns(m_ColumnInfo);
    m_pModel = new GridModel(m_ColumnInfo, this);
    setModel(m_pModel);
    m_pDelegate = new GridDelegate(this);
    setItemDelegate(m_pDelegate);

    verticalHeader()->hide();  // the row-header column takes no room
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    // Per pixel, so that columns scroll under the frozen ones smoothly and
    // every column can still be brought into view.
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    StopHeaderSelecting(this);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &GridView::OnHeaderClicked);
    SetDefaultColumnWidths();

    // The frozen columns: a second view over the same model and selection,
    // laid over the left edge of this one, that never scrolls sideways.
    m_pFrozen = new QTableView(this);
    m_pFrozen->setObjectName(QStringLiteral("frozenColumns"));
    m_pFrozen->setModel(m_pModel);
    m_pFrozen->setItemDelegate(m_pDelegate);
    m_pFrozen->setSelectionModel(selectionModel());
    m_pFrozen->setFocusPolicy(Qt::NoFocus);
    m_pFrozen->setFrameShape(QFrame::NoFrame);
    m_pFrozen->verticalHeader()->hide();
    m_pFrozen->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    m_pFrozen->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pFrozen->horizontalHeader()->setHighlightSections(false);
    m_pFrozen->horizontalHeader()->setSectionsClickable(true);
    m_pFrozen->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pFrozen->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pFrozen->setWordWrap(false);
    m_pFrozen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pFrozen->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StopHeaderSelecting(m_pFrozen);
    connect(m_pFrozen->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &GridView::OnHeaderClicked);
    connect(m_pFrozen->verticalScrollBar(), &QScrollBar::valueChanged, verticalScrollBar(),
            &QScrollBar::setValue);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, m_pFrozen->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int size) {
                m_pFrozen->setColumnWidth(column, size);
                UpdateFrozenGeometry();
            });
    m_pFrozenEdge = new QFrame(this);
    static_cast<QFrame*>(m_pFrozenEdge)->setFrameShape(QFrame::VLine);
    static_cast<QFrame*>(m_pFrozenEdge)->setFrameShadow(QFrame::Plain);
    viewport()->stackUnder(m_pFrozen);
    m_pFrozen->hide();
    m_pFrozenEdge->hide();

    OnCommand(cmd::EditCopy, [this] { CopySelection(); });
    RegisterActions();
}

// Close Connection and the blocks, for the chosen rows of the Socks5 menu;
// disabled with the reason as the item's tooltip.
void GridView::RegisterActions() {
    using ConnectionActions::Action;
    const std::pair<int, Action> commands[] = {{cmd::CloseConnections, Action::Close},
                                               {cmd::BlockUser, Action::BlockUser},
                                               {cmd::BlockClient, Action::BlockClient},
                                               {cmd::BlockDestination, Action::BlockDestination}};
    for (const auto& [id, action] : commands) {
        OnCommand(id, [this, action = action] {
            ConnectionActions::Run(GetDocument(), action, ChosenTargets(), this);
        });
        OnUpdateCommand(id, [this, action = action](GWCmdUI& ui) {
            QString whyNot;
            ui.Enable(ConnectionActions::Allowed(GetDocument(), action, nullptr, whyNot));
            ui.SetToolTip(whyNot);
        });
    }
}

ControlTargets GridView::ChosenTargets() const {
    return ControlTargets::Of(m_ChosenEntries ? m_ChosenEntries() : SelectedEntries());
}

std::vector<const EntryObj*> GridView::SelectedEntries() const {
    std::vector<const EntryObj*> entries;
    if (!selectionModel()) return entries;
    std::set<int> rows;  // cells are chosen, several of a row at times
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.insert(index.row());
    for (int row : rows) {
        if (const EntryObj* entry = m_pModel->EntryOfRow(row)) entries.push_back(entry);
    }
    return entries;
}

GridView::~GridView() = default;

CVGLDoc* GridView::GetDocument() const {
    return dynamic_cast<CVGLDoc*>(GWView::GetDocument());
}

void GridView::OnInitialUpdate() {
    OnFirstDisplay();
    if (CVGLDoc* document = GetDocument(); document && !m_bDocumentConnected) {
        connect(document, &CVGLDoc::stateChanged, this, &GridView::UpdateCornerButton);
        m_bDocumentConnected = true;
    }
    GWView::OnInitialUpdate();
}

void GridView::OnUpdate(GWView* sender, intptr_t hint, QObject* hintObject) {
    OnDocumentUpdate(sender, hint, hintObject);
}

void GridView::OnFirstDisplay() {
    BuildDefaultColumns(m_ColumnInfo);
    m_pModel->ColumnsChanged();
    ApplyColumnVisibility();
}

void GridView::OnDocumentUpdate(GWView*, intptr_t, QObject*) {
    CVGLDoc* document = GetDocument();
    if (!document) return;
    m_pModel->SetTable(&document->GetTable());
    document->GetTable().UpdateRowCount(*this);
    UpdateCornerButton();
    viewport()->update();
    m_pFrozen->viewport()->update();
    emit rowsChanged();
}

void GridView::SetRowCount(int rows) {
    m_pModel->SetRowCount(std::max(rows, 0));
    if (!m_bWidthsFitted && m_pModel->rowCount() > 0) {
        m_bWidthsFitted = true;
        FitColumnsToRows();
    }
}

void GridView::ShowSources(const std::vector<GridSource>& sources) {
    m_pModel->SetSources(sources);
    RowsUpdated();
}

void GridView::SourceUpdated(const PMCTable* table) {
    m_pModel->TableUpdated(table);
    RowsUpdated();
}

void GridView::RowsUpdated() {
    if (!m_bWidthsFitted && m_pModel->rowCount() > 0) {
        m_bWidthsFitted = true;
        FitColumnsToRows();
    }
    viewport()->update();
    m_pFrozen->viewport()->update();
    emit rowsChanged();
}

// Once, at the first poll that brings rows: each column grows to its longest
// text (results, long user names), so that little is cut short at first
// sight. Later polls leave the widths to the user; a text still too wide
// shows whole in its tooltip.
void GridView::FitColumnsToRows() {
    constexpr int MeasuredRows = 2000;  // a busy proxy's first poll costs no more than this
    constexpr int WidestColumn = 600;
    const QFontMetrics metrics(font());
    const int rows = std::min(m_pModel->rowCount(), MeasuredRows);
    for (int column = 0; column < g_nColumns; ++column) {
        int widest = 0;
        for (int row = 0; row < rows; ++row) {
            const QString text = m_pModel->data(m_pModel->index(row, column)).toString();
            widest = std::max(widest, metrics.horizontalAdvance(text));
        }
        const int wanted = std::min(widest + 12, WidestColumn);
        if (wanted > columnWidth(column)) setColumnWidth(column, wanted);
    }
}

void GridView::ApplyColumnVisibility() {
    for (int column = 0; column < g_nColumns; ++column) {
        const bool hidden = static_cast<size_t>(column) < m_ColumnInfo.size() &&
                            m_ColumnInfo[static_cast<size_t>(column)].m_bHidden != 0;
        setColumnHidden(column, hidden);
    }
    m_pModel->ColumnsChanged();
    UpdateFrozenColumns();
}

void GridView::UpdateCornerButton() {
    // Selecting the whole table from the corner is only for a session that
    // is not being polled.
    CVGLDoc* document = GetDocument();
    setCornerButtonEnabled(document != nullptr && document->m_bDisconnected != 0);
}

// Sorting

void GridView::OnHeaderClicked(int column) {
    // The same header again: the other way round, kept in the column's
    // descriptor so that the options' table page shows the same direction.
    if (column == m_pModel->SortColumn() && column >= 0 &&
        static_cast<size_t>(column) < m_ColumnInfo.size()) {
        int32_t& ascending = m_ColumnInfo[static_cast<size_t>(column)].m_bAscending;
        ascending = ascending ? 0 : 1;
    }
    SortByColumn(column);
}

void GridView::SortByColumn(int column) {
    m_pModel->SortBy(column);
    UpdateSortIndicator();
}

int GridView::SortColumn() const {
    return m_pModel->SortColumn();
}

void GridView::UpdateSortIndicator() {
    const int column = m_pModel->SortColumn();
    const Qt::SortOrder order =
        m_pModel->SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder;
    for (QHeaderView* header : {horizontalHeader(), m_pFrozen->horizontalHeader()}) {
        header->setSortIndicatorShown(column >= 0);
        header->setSortIndicator(column, order);
    }
}

// Frozen columns

void GridView::SetFrozenColumns(int count) {
    m_nFrozen = std::clamp(count, 0, g_nColumns);
    UpdateFrozenColumns();
}

int GridView::FrozenColumns() const {
    return m_nFrozen;
}

void GridView::UpdateFrozenColumns() {
    m_FrozenColumns.clear();
    for (int column = 0;
         column < g_nColumns && static_cast<int>(m_FrozenColumns.size()) < m_nFrozen; ++column) {
        if (!isColumnHidden(column)) m_FrozenColumns.push_back(column);
    }
    for (int column = 0; column < g_nColumns; ++column) {
        const bool frozen = std::find(m_FrozenColumns.begin(), m_FrozenColumns.end(), column) !=
                            m_FrozenColumns.end();
        m_pFrozen->setColumnHidden(column, !frozen);
        m_pFrozen->setColumnWidth(column, columnWidth(column));
    }
    const bool show = !m_FrozenColumns.empty();
    m_pFrozen->setVisible(show);
    m_pFrozenEdge->setVisible(show);
    UpdateSortIndicator();
    UpdateFrozenGeometry();
}

int GridView::FrozenWidth() const {
    int width = 0;
    for (int column : m_FrozenColumns) width += columnWidth(column);
    return width;
}

void GridView::UpdateFrozenGeometry() {
    if (!m_pFrozen || m_FrozenColumns.empty()) return;
    const int width = std::min(FrozenWidth(), viewport()->width());
    const int headerHeight = horizontalHeader()->height();
    m_pFrozen->horizontalHeader()->setFixedHeight(headerHeight);
    m_pFrozen->setGeometry(viewport()->x(), frameWidth(), width,
                           viewport()->height() + headerHeight);
    m_pFrozenEdge->setGeometry(viewport()->x() + width - 1, frameWidth(), 2,
                               viewport()->height() + headerHeight);
    m_pFrozenEdge->raise();
}

void GridView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    UpdateFrozenGeometry();
}

void GridView::updateGeometries() {
    QTableView::updateGeometries();
    UpdateFrozenGeometry();
}

void GridView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid()) return;
    const bool frozen = std::find(m_FrozenColumns.begin(), m_FrozenColumns.end(), index.column()) !=
                        m_FrozenColumns.end();
    const int sideways = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    if (frozen) {
        horizontalScrollBar()->setValue(sideways);  // always in view; only scroll up or down
        return;
    }
    // Keep the cell out from under the frozen columns.
    const int hiddenBy = FrozenWidth() - visualRect(index).left();
    if (!m_FrozenColumns.empty() && hiddenBy > 0) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - hiddenBy);
    }
}

void GridView::SetDefaultColumnWidths() {
    const QFontMetrics metrics(font());
    for (int column = 0; column < g_nColumns; ++column) {
        const int title = metrics.horizontalAdvance(QString::fromStdString(ColumnTitle(column)));
        const int sample =
            metrics.horizontalAdvance(QString::fromLatin1(ColumnSpecOf(column).m_Sample));
        setColumnWidth(column, std::max(title + 28, sample + 12));
    }
}

// Copy

QString GridView::SelectionText() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    std::set<int> rows;
    std::set<std::pair<int, int>> cells;  // (row, column)
    std::vector<int> columns;
    for (const QModelIndex& index : selected) {
        if (isColumnHidden(index.column())) continue;
        rows.insert(index.row());
        cells.emplace(index.row(), index.column());
        if (std::find(columns.begin(), columns.end(), index.column()) == columns.end()) {
            columns.push_back(index.column());
        }
    }
    if (cells.empty()) return {};
    std::sort(columns.begin(), columns.end(), [this](int left, int right) {
        return horizontalHeader()->visualIndex(left) < horizontalHeader()->visualIndex(right);
    });

    QStringList lines;
    QStringList titles;
    for (int column : columns) {
        titles << m_pModel->headerData(column, Qt::Horizontal).toString();
    }
    lines << titles.join(QLatin1Char('\t'));
    for (int row : rows) {
        QStringList texts;
        for (int column : columns) {
            texts << (cells.count({row, column})
                          ? m_pModel->data(m_pModel->index(row, column), GridModel::RawTextRole)
                                .toString()
                          : QString());
        }
        lines << texts.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void GridView::CopySelection() {
    const QString text = SelectionText();
    if (text.isEmpty()) return;
    QGuiApplication::clipboard()->setText(text);
}

void GridView::keyPressEvent(QKeyEvent* event) {
    // The item view would copy the current cell on its own; copying follows
    // the session's rule (only while not connected) and copies the selection.
    if (event == QKeySequence::Copy) {
        if (GWUpdateCommand({this, GWView::GetDocument()}, cmd::EditCopy).m_bEnabled) {
            CopySelection();
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

// Printing

std::vector<int> GridView::ShownColumns() const {
    std::vector<int> columns;
    for (int logical = 0; logical < g_nColumns; ++logical) {
        if (!isColumnHidden(logical)) columns.push_back(logical);
    }
    std::sort(columns.begin(), columns.end(), [this](int left, int right) {
        return horizontalHeader()->visualIndex(left) < horizontalHeader()->visualIndex(right);
    });
    return columns;
}

void GridView::OnPrint(QPainter& painter, QPrinter& printer) {
    GridPrinter(*m_pModel, ShownColumns(), font(), printer).Print(painter);
}
