#pragma once
// The spreadsheet-like view of a session's connections: one row per entry of
// the table's display list, one column per column of the column set. It keeps
// no cell data: every text is asked of the connection table as it is painted.

#include <QString>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/table/ColumnInfo.h"
#include "core/table/PMCTable.h"
#include "core/view/ControlTargets.h"
#include "gui/framework/GWView.h"
#include "gui/grid/GridModel.h"

class CVGLDoc;
class GridDelegate;

class GridView : public QTableView, public GWView, public RowCountSink {
    Q_OBJECT
public:
    explicit GridView(QWidget* parent = nullptr);
    ~GridView() override;

    QWidget* GetWidget() override { return this; }
    CVGLDoc* GetDocument() const;

    void OnInitialUpdate() override;                                             // OnFirstDisplay
    void OnUpdate(GWView* sender, intptr_t hint, QObject* hintObject) override;  // OnDocumentUpdate
    void OnFirstDisplay();
    void OnDocumentUpdate(GWView* sender, intptr_t hint, QObject* hintObject);
    void ApplyColumnVisibility();
    void SetRowCount(int rows) override;
    // The grid of all servers shows these tables, each with its server; a
    // table that applied a poll is brought up to date on its own.
    void ShowSources(const std::vector<GridSource>& sources);
    void SourceUpdated(const PMCTable* table);
    void CopySelection();  // "&Copy data": tab-separated, the columns' titles first

    // Choices of the options' table page that take effect in the grid:
    // a click on a column header orders the rows by that column in the
    // direction chosen for it (m_bAscending), and a click on the header it
    // is already ordered by reverses that direction; the frozen count keeps that many
    // leading visible columns in place while the grid scrolls sideways.
    void SetFrozenColumns(int count);  // 0..2
    int FrozenColumns() const;
    void SortByColumn(int column);  // a column of the set; -1 back to the table's own order
    int SortColumn() const;

    void OnPrint(QPainter& painter,
                 QPrinter& printer) override;  // all rows, visible columns, paginated

    ColumnInfoArray m_ColumnInfo;

    GridModel* Model() const { return m_pModel; }
    // Paints the cells of the grid and of its frozen columns.
    GridDelegate* Delegate() const { return m_pDelegate; }
    // The overlay that shows the frozen columns; hidden while none are frozen.
    QTableView* FrozenView() const { return m_pFrozen; }
    // The texts "&Copy data" puts on the clipboard for the current selection.
    QString SelectionText() const;
    // The columns shown, in their order on the screen.
    std::vector<int> ShownColumns() const;
    // The connections of the chosen rows, for acting on them; the pane that
    // shows groups in the grid's place gives those of the chosen groups.
    using ChosenEntries = std::function<std::vector<const EntryObj*>()>;
    void SetChosenEntries(ChosenEntries chosen) { m_ChosenEntries = std::move(chosen); }
    std::vector<const EntryObj*> SelectedEntries() const;

signals:
    // The rows were brought up to date with the session's table.
    void rowsChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

private:
    void OnHeaderClicked(int column);
    void RegisterActions();
    ControlTargets ChosenTargets() const;
    void UpdateCornerButton();
    void UpdateSortIndicator();
    void UpdateFrozenColumns();
    void UpdateFrozenGeometry();
    int FrozenWidth() const;
    void SetDefaultColumnWidths();
    void FitColumnsToRows();
    void RowsUpdated();

    GridModel* m_pModel = nullptr;
    GridDelegate* m_pDelegate = nullptr;
    QTableView* m_pFrozen = nullptr;
    QWidget* m_pFrozenEdge = nullptr;
    int m_nFrozen = 0;
    std::vector<int> m_FrozenColumns;   // the leading visible columns the overlay shows
    bool m_bDocumentConnected = false;  // stateChanged of the document is connected
    bool m_bWidthsFitted = false;       // the first poll with rows has sized the columns
    ChosenEntries m_ChosenEntries;
};
