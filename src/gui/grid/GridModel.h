#pragma once
// The grid's table model. It holds no cell data: every text is asked of the
// session's connection table when the view paints, prints or copies a cell.
// Its only state is the row count and the order of the rows: by default the
// table's own order, or sorted by one column, as a mapping from grid row to
// table row. Across updates it keeps the view's selection and current cell on
// the same connections.

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "core/table/ColumnInfo.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"
#include "gui/grid/TextCollator.h"

class EntryObj;
class PMCTable;

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The descriptors are the view's; the model reads titles and sort
    // directions from them as it goes.
    explicit GridModel(const ColumnInfoArray& columns, QObject* parent = nullptr);

    // A cell's text as the table made it, plain digits and all, for copies;
    // the display role shows the rates with the locale's group separators.
    static constexpr int RawTextRole = Qt::UserRole + 1;

    void SetTable(const PMCTable* table);
    const PMCTable* Table() const { return m_pTable; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The table's display list has this many rows now (negative counts as 0).
    // Rows are added or removed at the end and reordered in place, so the
    // view keeps its selection and scroll position.
    void SetRowCount(int rows);
    // Orders the rows by this column (0 .. g_nColumns - 1) in the direction its descriptor
    // chooses; -1 goes back to the table's order.
    void SortBy(int column);
    int SortColumn() const { return m_SortColumn; }
    // The table's row (from 1) shown in this grid row (from 0).
    int TableRow(int row) const;
    // Keeps only the connections that meet this filter line (empty: all). A
    // malformed line keeps all; false then, and the filter's Error() says why.
    bool SetFilter(const std::string& text);
    const ConnectionFilter& Filter() const { return m_Filter; }
    // The connections on show in the table's display list, before filtering.
    int TableRowCount() const { return m_nTableRows; }
    // The connections the grid shows, in its order.
    std::vector<const EntryObj*> ShownEntries() const;
    // The header titles changed (the options' table page wrote them back).
    void ColumnsChanged();

    // Texts in the order a reader expects: case aside, and numbers within
    // them by value (10.0.0.9 before 10.0.0.10) in every locale. Negative, 0 or positive.
    int CompareText(const std::string& left, const std::string& right) const;

private:
    std::vector<int> BuildOrder(std::vector<int> chosen) const;
    std::vector<int> StartingOrder(std::vector<int> chosen) const;
    void SortByNumber(std::vector<int>& order, int column, bool ascending) const;
    void SortByText(std::vector<int>& order, int column, bool ascending) const;
    uint64_t IdOf(int tableRow) const;
    void Reorder(int rows);
    std::vector<int> ChosenRows(int rows);

    const ColumnInfoArray& m_Columns;
    const PMCTable* m_pTable = nullptr;
    int m_nRows = 0;
    int m_nTableRows = 0;
    ConnectionFilter m_Filter;
    FilterIndex m_Index;        // of the table's rows, built when a filter first needs it after a poll
    bool m_bIndexStale = true;
    int m_SortColumn = -1;
    std::vector<int> m_Order;     // grid row -> table row (from 1)
    std::vector<uint64_t> m_Ids;  // the connection of each grid row at the last update; 0 none
    TextCollator m_Collator;
};
